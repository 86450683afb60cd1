#include "InputMethod/Core/Engine/StrategyEnvironment.h"

#include "InputMethod/Core/Database/Database.h"

namespace taviro {

Database& StrategyEnvironment::store() const { return database ? *database : Database::shared(); }

std::shared_ptr<Database> StrategyEnvironment::storePtr() const {
    return database ? database : Database::shared().shared_from_this();
}

std::shared_ptr<const Settings> StrategyEnvironment::settings() const { return store().currentSettings(); }

} // namespace taviro
