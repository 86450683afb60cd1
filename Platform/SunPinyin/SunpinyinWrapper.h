#pragma once
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Handle on the process-wide SunPinyin engine (full pinyin, simplified Chinese).
//
// The library keeps one language model and one set of fuzzy and correction
// options per process and is not thread-safe, so every call of every wrapper
// runs under one process-wide lock. Each wrapper keeps its own options: the
// setters only store a value, `updateFuzzConfig` and `updateAutoCorrection`
// commit what was stored, and a query runs with the options its wrapper has
// committed, whatever other wrappers committed meanwhile.
//
// Queries never throw. When the engine could not be loaded, or the buffer is
// empty, longer than `kMaxKeys` or holds a key outside "a"-"z" and "'",
// `pyStringFrom` answers an empty list and `candidateWithBuffer` "".
class SunpinyinWrapper {
public:
    // The library crashes on 512 keys or more; longer buffers are refused.
    static constexpr std::size_t kMaxKeys = 500;

    // Loads the engine on first use (model files from modelDirectory(), user
    // data under the per-user folder). All options start off.
    SunpinyinWrapper();
    ~SunpinyinWrapper();
    SunpinyinWrapper(const SunpinyinWrapper&) = delete;
    SunpinyinWrapper& operator=(const SunpinyinWrapper&) = delete;

    // Whether the process-wide engine loaded its model.
    static bool isAvailable();

    // Fuzzy pairs; committed by updateFuzzConfig.
    void setAn2ang(bool on);
    void setIn2ing(bool on);
    void setEn2eng(bool on);
    void setC2ch(bool on);
    void setZ2zh(bool on);
    void setS2sh(bool on);
    void setF2h(bool on);
    void setR2l(bool on);
    void setL2n(bool on);
    void updateFuzzConfig();

    // Spelling corrections; committed by updateAutoCorrection.
    void setMg2ng(bool on);
    void setGn2ng(bool on);
    void setUei2ui(bool on);
    void setUen2un(bool on);
    void setIou2iu(bool on);
    void updateAutoCorrection();

    // The syllables the buffer splits into, in typed order ("xi'an" -> xi, an),
    // spelt as the pinyin model spells them (lüe and nüe as "lue" and "nue").
    std::vector<std::string> pyStringFrom(std::string_view buffer) const;

    // The best sentence for the whole buffer, "" when there is none.
    std::string candidateWithBuffer(std::string_view buffer) const;

    // Where the model files (lm_sc.t3g, pydict_sc.bin) are read from: the
    // bundle resources, or Debian's stock model in a build configured with
    // TAVIRO_SUNPINYIN_STOCK_MODEL.
    static std::filesystem::path defaultModelDirectory();
    // Reads the model from `dir` instead; only before the engine's first load
    // (false afterwards: the library cannot load a second model).
    static bool useModelDirectory(const std::filesystem::path& dir);

    // Where the engine keeps its user data: "sunpinyin" in the per-user folder.
    // The engine reads no file there that is not a regular file of a size it
    // writes, and follows no link; what it cannot use is set aside in place.
    static std::string userDataDirectory();

    // Receives the engine's messages for the user (a file of its folder set
    // aside, and where), each once; those from before the call come at once.
    // Called from the engine's threads, with its lock held: it must not call
    // back into a wrapper. Empty: messages wait again.
    using NoticeSink = std::function<void(const std::string& title, const std::string& text)>;
    static void setUserNotice(NoticeSink sink);

    // The fourteen options of one wrapper, in setter order.
    struct Options {
        bool an2ang = false, in2ing = false, en2eng = false, c2ch = false, z2zh = false,
             s2sh = false, f2h = false, r2l = false, l2n = false;
        bool mg2ng = false, gn2ng = false, uei2ui = false, uen2un = false, iou2iu = false;
        bool operator==(const Options&) const = default;
    };

private:
    Options pending_;
    Options committed_;
};

} // namespace plat
