#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// One Kelvane per user: the first start owns the session-bus name "com.quorvel.Kelvane"
// and serves "OpenURLs" (as); a later start hands its URLs to it and ends.
class SingleInstance {
public:
    static constexpr const char* kBusName = "com.quorvel.Kelvane";
    static constexpr const char* kObjectPath = "/com/quorvel/Kelvane";
    static constexpr const char* kInterface = "com.quorvel.Kelvane";

    // Receives the URLs another start handed over (an empty list: just show the window),
    // on the bus thread.
    using Handler = std::function<void(std::vector<std::string>)>;
    // The session bus went away under the first instance (the desktop session
    // ends), on the bus thread, after a log line.
    using Lost = std::function<void()>;

    enum class Role {
        First,     // this process owns the name (or no bus could be reached) and runs
        Forwarded, // another process owns it and took the URLs: end now
    };

    // Claims the name, or hands `urls` to the owner. address: none means the session bus.
    // Without a bus the process runs as the first one (a line is logged).
    static std::pair<Role, std::unique_ptr<SingleInstance>> claim(const std::vector<std::string>& urls,
                                                                  Handler handler,
                                                                  std::optional<std::string> address = std::nullopt,
                                                                  Lost lost = nullptr);

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

private:
    struct Impl;
    explicit SingleInstance(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvane
