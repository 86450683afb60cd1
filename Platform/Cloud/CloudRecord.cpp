#include "Platform/Cloud/CloudRecord.h"

#include <array>
#include <cstdio>
#include <random>
#include <system_error>

namespace plat::cloud {

std::string makeUUIDString() {
    static thread_local std::mt19937_64 rng{std::random_device{}() ^
                                            (static_cast<std::uint64_t>(std::random_device{}()) << 32)};
    std::array<std::uint8_t, 16> b{};
    for (std::size_t i = 0; i < b.size(); i += 8) {
        const std::uint64_t r = rng();
        for (std::size_t j = 0; j < 8; ++j) b[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

RecordID RecordID::random() { return RecordID{makeUUIDString()}; }

struct Asset::File {
    std::filesystem::path path;
    std::string storedName;
    bool owned = false;
    ~File() {
        if (owned) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    }
};

Asset::Asset(std::filesystem::path fileURL) : file_(std::make_shared<File>(File{std::move(fileURL), {}, false})) {}

Asset Asset::downloaded(std::filesystem::path copy, std::string storedName) {
    auto f = std::make_shared<File>();
    f->path = std::move(copy);
    f->storedName = std::move(storedName);
    f->owned = true;
    return Asset(std::shared_ptr<const File>(std::move(f)));
}

const std::filesystem::path& Asset::fileURL() const { return file_->path; }
const std::string& Asset::storedName() const { return file_->storedName; }

Record::Record(std::string recordType, RecordID recordID)
    : recordType_(std::move(recordType)), recordID_(std::move(recordID)) {}

const FieldValue* Record::valueForKey(std::string_view key) const {
    const auto it = fields_.find(key);
    return it == fields_.end() ? nullptr : &it->second;
}

void Record::setValue(const std::string& key, FieldValue value) {
    fields_.insert_or_assign(key, std::move(value));
    changedKeys_.insert(key);
}

void Record::removeValue(const std::string& key) {
    fields_.erase(key);
    changedKeys_.insert(key);
}

std::vector<std::string> Record::allKeys() const {
    std::vector<std::string> keys;
    for (const auto& [k, v] : fields_) keys.push_back(k);
    return keys;
}

std::optional<std::string> Record::stringForKey(std::string_view key) const {
    const auto* v = valueForKey(key);
    if (const auto* s = v ? std::get_if<std::string>(v) : nullptr) return *s;
    return std::nullopt;
}

std::optional<std::int64_t> Record::integerForKey(std::string_view key) const {
    const auto* v = valueForKey(key);
    if (const auto* i = v ? std::get_if<std::int64_t>(v) : nullptr) return *i;
    return std::nullopt;
}

const Asset* Record::assetForKey(std::string_view key) const {
    const auto* v = valueForKey(key);
    return v ? std::get_if<Asset>(v) : nullptr;
}

std::string describe(const Error& error) {
    std::string text;
    switch (error.code) {
    case ErrorCode::NotAuthenticated: text = "未设置账号名"; break;
    case ErrorCode::NetworkUnavailable: text = "存储位置不可用"; break;
    case ErrorCode::UnknownItem: text = "条目不存在"; break;
    case ErrorCode::PermissionFailure: text = "没有权限修改此条目"; break;
    case ErrorCode::ServerRecordChanged: text = "条目已被修改，请刷新后重试"; break;
    case ErrorCode::AssetFileNotFound: text = "找不到要上传的文件"; break;
    case ErrorCode::InvalidArguments: text = "名称不能保存"; break;
    case ErrorCode::TimedOut: text = "操作超时"; break;
    case ErrorCode::LimitExceeded: text = "文件过大，不能保存"; break;
    case ErrorCode::InternalError: text = "存储出错"; break;
    }
    if (!error.message.empty()) text += "：" + error.message;
    return text;
}

static bool allowedChar(char c, bool dashDot) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           (dashDot && (c == '-' || c == '.'));
}

bool isValidStoreName(std::string_view name) {
    if (name.empty() || name.size() > 128 || name.front() == '.') return false;
    for (char c : name)
        if (!allowedChar(c, true)) return false;
    return true;
}

bool isValidFieldKey(std::string_view key) {
    if (key.empty() || key.size() > 255) return false;
    for (char c : key)
        if (!allowedChar(c, false)) return false;
    return true;
}

} // namespace plat::cloud
