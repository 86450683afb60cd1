#include "InputMethod/Core/Engine/ChineseConverter.h"

#include "Platform/Foundation/Log.h"

#include <opencc/SimpleConverter.hpp>

#include <exception>
#include <mutex>

namespace taviro {

struct ChineseConverter::Impl {
    opencc::SimpleConverter converter;
    explicit Impl(const char* config) : converter(config) {}
};

ChineseConverter::ChineseConverter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ChineseConverter::~ChineseConverter() = default;

const ChineseConverter* ChineseConverter::shared(int index)
{
    if (index < 0 || index >= static_cast<int>(optionList.size()))
        return nullptr;
    // Loading a configuration takes milliseconds; each one is loaded once, and a
    // failed one is not retried.
    static std::array<std::once_flag, optionList.size()> once;
    static std::array<std::unique_ptr<ChineseConverter>, optionList.size()> converters;
    std::call_once(once[index], [index] {
        try {
            converters[index].reset(new ChineseConverter(std::make_unique<Impl>(optionList[index])));
        } catch (const std::exception& e) {
            plat::log(std::string("OpenCC cannot load ") + optionList[index] + ": " + e.what());
        } catch (...) {
            plat::log(std::string("OpenCC cannot load ") + optionList[index]);
        }
    });
    return converters[index].get();
}

std::string ChineseConverter::convert(int index, std::string_view text)
{
    const ChineseConverter* converter = shared(index);
    return converter ? converter->convert(text) : std::string(text);
}

std::string ChineseConverter::convert(std::string_view text) const
{
    if (text.empty())
        return {};
    try {
        return impl_->converter.Convert(text.data(), text.size());
    } catch (...) {
        return std::string(text);
    }
}

} // namespace taviro
