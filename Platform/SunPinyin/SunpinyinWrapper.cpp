#include "Platform/SunPinyin/SunpinyinWrapper.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/SunPinyin/ModelHistory.h"
#include "Platform/SunPinyin/Utf8.h"

// The library's headers define a global ::wstring; they stay in this file only.
#include <sunpinyin.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// The library writes its user dictionary back whenever the dictionary is
// freed, at exit too, and gives no other way to reach the dictionary's
// connection: its two private members are named through an explicit
// instantiation, where access is not checked.
namespace {

template <typename Tag, typename Tag::Type member>
struct Reach {
    friend typename Tag::Type memberOf(Tag) { return member; }
};
struct DictConnection {
    using Type = sqlite3* CUserDict::*;
    friend Type memberOf(DictConnection);
};
struct DictFileName {
    using Type = char* CUserDict::*;
    friend Type memberOf(DictFileName);
};
template struct Reach<DictConnection, &CUserDict::m_db>;
template struct Reach<DictFileName, &CUserDict::m_fname>;

} // namespace

namespace plat {

namespace {

namespace fs = std::filesystem;

using Options = SunpinyinWrapper::Options;

// Messages for the user, kept until someone takes them.
struct UserNotices {
    std::mutex mutex;
    SunpinyinWrapper::NoticeSink sink;
    std::vector<std::pair<std::string, std::string>> untold;

    static UserNotices& shared()
    {
        static UserNotices* notices = new UserNotices;
        return *notices;
    }

    void post(const std::string& title, const std::string& text)
    {
        SunpinyinWrapper::NoticeSink to;
        {
            std::lock_guard lock(mutex);
            if (!sink) {
                untold.emplace_back(title, text);
                return;
            }
            to = sink;
        }
        to(title, text);
    }

    void setSink(SunpinyinWrapper::NoticeSink next)
    {
        std::vector<std::pair<std::string, std::string>> pending;
        {
            std::lock_guard lock(mutex);
            sink = next;
            if (sink)
                pending.swap(untold);
        }
        for (const auto& [title, text] : pending)
            next(title, text);
    }
};

std::string noticeText(const SunpinyinUserFolder::Moved& moved)
{
    using Reason = SunpinyinSetAside::Reason;
    std::string why;
    switch (moved.file.reason) {
    case Reason::unknownNote:
        why = "所属模型无法识别";
        break;
    case Reason::link:
        why = "是一个链接";
        break;
    case Reason::notAFile:
        why = "不是普通文件";
        break;
    case Reason::tooLarge:
        why = "文件过大";
        break;
    case Reason::notAFolder:
        why = "不是文件夹";
        break;
    case Reason::unreadable:
        why = "无法打开";
        break;
    case Reason::hardLink:
        why = "另有硬链接";
        break;
    case Reason::otherModel:
    case Reason::noNote:
        why = "属于另一个模型";
        break;
    }
    return "“" + (moved.folder / moved.file.name).string() + "”" + why + "，未读取，已保留为 " +
           (moved.folder / moved.file.aside).string();
}

// The one engine of the process. Every member is used under `mutex` only.
struct Engine {
    std::mutex mutex;
    bool loaded = false;
    bool loadFailed = false;
    fs::path modelDir;  // chosen before the first load
    bool reportedMissingData = false;
    SunpinyinUserFolder userFolder;  // held open while the engine lives
    CIMIContext* context = nullptr;
    std::unique_ptr<IPySegmentor> segmentor;          // feeds `context`
    std::unique_ptr<IPySegmentor> syllableSegmentor;  // splits buffers for pyStringFrom
    // The keys `segmentor` and `context` hold, valid while `sessionValid`: a
    // buffer that extends them only needs its new keys.
    std::string sessionKeys;
    bool sessionValid = false;
    bool haveApplied = false;
    Options applied;
    // Changes of the user dictionary's connection when it was loaded.
    int dictChangesAtLoad = 0;

    static Engine& shared()
    {
        static Engine* engine = new Engine;  // never destroyed: the library's singletons outlive it
        return *engine;
    }

    bool ensureLoaded()
    {
        if (loaded)
            return true;
        if (loadFailed)
            return false;
        const fs::path dataDir = modelDir.empty() ? SunpinyinWrapper::defaultModelDirectory() : modelDir;
        std::error_code ec;
        // A failed load cannot be retried in this process: check the files before trying.
        if (!fs::is_regular_file(dataDir / "lm_sc.t3g", ec) || !fs::is_regular_file(dataDir / "pydict_sc.bin", ec)) {
            if (!reportedMissingData)
                plat::log("SunPinyin data not found in " + dataDir.string());
            reportedMissingData = true;
            return false;
        }
        // The history is kept per model; what the engine must not read is set aside.
        SunpinyinUserFolder prepared = prepareSunpinyinUserFolder(Paths::perUserFolder(), dataDir);
        for (const auto& moved : prepared.setAside) {
            if (moved.file.tell())
                UserNotices::shared().post("整句输入的数据文件已移开", noticeText(moved));
        }
        if (prepared.engineDir.empty()) {
            plat::log("SunPinyin not loaded: it has no folder for its user data");
            loadFailed = true;
            return false;
        }
        userFolder = std::move(prepared);

        auto& lang = ASimplifiedChinesePolicy::instance();
        lang.setDataDir(dataDir.string());
        lang.setUserDataDir(userFolder.engineDir.string());
        const bool resources = lang.loadResources();
        // The user dictionary is loaded even when the model is not.
        if (sqlite3* db = lang.m_userDict.*memberOf(DictConnection{}))
            dictChangesAtLoad = sqlite3_total_changes(db);
        // Runs before the library's own clean-up, which was set up when the
        // policy was first reached above.
        std::atexit([] { Engine::shared().beforeExit(); });
        if (!resources) {
            plat::log("SunPinyin failed to load its resources");
            loadFailed = true;
            return false;
        }
        segmentor.reset(AQuanpinSchemePolicy::instance().createPySegmentor());
        syllableSegmentor.reset(AQuanpinSchemePolicy::instance().createPySegmentor());
        context = lang.createContext();
        if (!segmentor || !syllableSegmentor || !context) {
            plat::log("SunPinyin failed to create a session");
            loadFailed = true;
            return false;
        }
        loaded = true;
        return true;
    }

    // The library writes its user dictionary back at exit: only a changed one
    // is written, and only into a regular file of the folder's own.
    void beforeExit()
    {
        std::lock_guard lock(mutex);
        CUserDict& dict = ASimplifiedChinesePolicy::instance().m_userDict;
        sqlite3* db = dict.*memberOf(DictConnection{});
        char*& file = dict.*memberOf(DictFileName{});
        if (!db || !file)
            return;
        if (sqlite3_total_changes(db) != dictChangesAtLoad) {
            std::vector<SunpinyinSetAside> moved;
            if (readySunpinyinUserDict(userFolder.engineDir, &moved)) {
                for (const auto& m : moved)
                    plat::log("SunPinyin: " + m.name + " set aside as " + m.aside + " before its words were written");
                return;
            }
            plat::log("SunPinyin: its user dictionary could not be written: no file of its own for it in " +
                      userFolder.engineDir.string());
        }
        // Without a file name the library only closes the dictionary.
        std::free(file);
        file = nullptr;
    }

    // Makes the library's process-wide options those of one wrapper.
    void apply(const Options& o)
    {
        if (haveApplied && applied == o)
            return;
        auto& scheme = AQuanpinSchemePolicy::instance();
        // The library keeps one partner per sound, the first one given: l-n goes
        // before r-l so that the commoner pair wins when both are on.
        string_pairs fuzzy;
        if (o.an2ang) fuzzy.emplace_back("an", "ang");
        if (o.in2ing) fuzzy.emplace_back("in", "ing");
        if (o.en2eng) fuzzy.emplace_back("en", "eng");
        if (o.c2ch) fuzzy.emplace_back("c", "ch");
        if (o.z2zh) fuzzy.emplace_back("z", "zh");
        if (o.s2sh) fuzzy.emplace_back("s", "sh");
        if (o.f2h) fuzzy.emplace_back("f", "h");
        if (o.l2n) fuzzy.emplace_back("l", "n");
        if (o.r2l) fuzzy.emplace_back("r", "l");
        scheme.clearFuzzyPinyinPairs();
        scheme.setFuzzyPinyinPairs(fuzzy, true);
        scheme.setFuzzyForwarding(!fuzzy.empty(), false);

        string_pairs corrections;
        if (o.mg2ng) corrections.emplace_back("mg", "ng");
        if (o.gn2ng) corrections.emplace_back("gn", "ng");
        if (o.uei2ui) corrections.emplace_back("uei", "ui");
        if (o.uen2un) corrections.emplace_back("uen", "un");
        if (o.iou2iu) corrections.emplace_back("iou", "iu");
        scheme.setAutoCorrectionPairs(corrections);
        scheme.setAutoCorrecting(!corrections.empty());

        applied = o;
        haveApplied = true;
        sessionValid = false;
    }

    // Brings the session to the keys, building the lattice after every key (a
    // lattice built once at the end keeps stale frames), then searches from the
    // first frame that changed. Keys that extend the session's keys are pushed
    // on top of it; anything else starts afresh.
    void feedSession(std::string_view keys)
    {
        std::size_t from = 0;
        if (sessionValid && keys.size() >= sessionKeys.size() && keys.substr(0, sessionKeys.size()) == sessionKeys) {
            from = sessionKeys.size();
        } else {
            segmentor->clear();
            context->clear();
        }
        unsigned firstChanged = UINT_MAX;
        for (std::size_t i = from; i < keys.size(); ++i) {
            segmentor->push(static_cast<unsigned char>(keys[i]));
            firstChanged = std::min(firstChanged, segmentor->updatedFrom());
            context->buildLattice(segmentor.get(), false);
        }
        if (firstChanged != UINT_MAX)
            context->searchFrom(firstChanged + 1);
        sessionKeys.assign(keys);
        sessionValid = true;
    }
};

// The keys handed to the engine: the buffer without apostrophes at its ends
// (they separate nothing, and the engine reads a leading one as a quote mark),
// or nothing when the buffer holds another key or is too long for the engine.
std::string_view engineKeys(std::string_view buffer)
{
    if (buffer.size() > SunpinyinWrapper::kMaxKeys)
        return {};
    for (char c : buffer) {
        if (!((c >= 'a' && c <= 'z') || c == '\''))
            return {};
    }
    while (!buffer.empty() && buffer.front() == '\'')
        buffer.remove_prefix(1);
    while (!buffer.empty() && buffer.back() == '\'')
        buffer.remove_suffix(1);
    return buffer;
}

// The engine spells lüe and nüe "lve" and "nve"; the pinyin model and
// everything above this wrapper spell them "lue" and "nue".
std::string modelSpelling(std::string_view syllable)
{
    if (syllable == "lve")
        return "lue";
    if (syllable == "nve")
        return "nue";
    return std::string(syllable);
}

} // namespace

SunpinyinWrapper::SunpinyinWrapper()
{
    Engine& engine = Engine::shared();
    std::lock_guard lock(engine.mutex);
    engine.ensureLoaded();
}

SunpinyinWrapper::~SunpinyinWrapper() = default;

bool SunpinyinWrapper::isAvailable()
{
    Engine& engine = Engine::shared();
    std::lock_guard lock(engine.mutex);
    return engine.ensureLoaded();
}

std::filesystem::path SunpinyinWrapper::defaultModelDirectory()
{
#ifdef TAVIRO_SUNPINYIN_STOCK_DATA_DIR
    return TAVIRO_SUNPINYIN_STOCK_DATA_DIR;
#else
    return Paths::resourceFolder(Bundle::TaviroMac2);
#endif
}

bool SunpinyinWrapper::useModelDirectory(const std::filesystem::path& dir)
{
    Engine& engine = Engine::shared();
    std::lock_guard lock(engine.mutex);
    if (engine.loaded || engine.loadFailed)
        return false;
    engine.modelDir = dir;
    return true;
}

void SunpinyinWrapper::setUserNotice(NoticeSink sink)
{
    UserNotices::shared().setSink(std::move(sink));
}

std::string SunpinyinWrapper::userDataDirectory()
{
    return (Paths::perUserFolder() / "sunpinyin").string();
}

#define TAVIRO_SETTER(Name, field)                              \
    void SunpinyinWrapper::Name(bool on)                        \
    {                                                           \
        std::lock_guard lock(Engine::shared().mutex);           \
        pending_.field = on;                                    \
    }

TAVIRO_SETTER(setAn2ang, an2ang)
TAVIRO_SETTER(setIn2ing, in2ing)
TAVIRO_SETTER(setEn2eng, en2eng)
TAVIRO_SETTER(setC2ch, c2ch)
TAVIRO_SETTER(setZ2zh, z2zh)
TAVIRO_SETTER(setS2sh, s2sh)
TAVIRO_SETTER(setF2h, f2h)
TAVIRO_SETTER(setR2l, r2l)
TAVIRO_SETTER(setL2n, l2n)
TAVIRO_SETTER(setMg2ng, mg2ng)
TAVIRO_SETTER(setGn2ng, gn2ng)
TAVIRO_SETTER(setUei2ui, uei2ui)
TAVIRO_SETTER(setUen2un, uen2un)
TAVIRO_SETTER(setIou2iu, iou2iu)

#undef TAVIRO_SETTER

void SunpinyinWrapper::updateFuzzConfig()
{
    std::lock_guard lock(Engine::shared().mutex);
    committed_.an2ang = pending_.an2ang;
    committed_.in2ing = pending_.in2ing;
    committed_.en2eng = pending_.en2eng;
    committed_.c2ch = pending_.c2ch;
    committed_.z2zh = pending_.z2zh;
    committed_.s2sh = pending_.s2sh;
    committed_.f2h = pending_.f2h;
    committed_.r2l = pending_.r2l;
    committed_.l2n = pending_.l2n;
}

void SunpinyinWrapper::updateAutoCorrection()
{
    std::lock_guard lock(Engine::shared().mutex);
    committed_.mg2ng = pending_.mg2ng;
    committed_.gn2ng = pending_.gn2ng;
    committed_.uei2ui = pending_.uei2ui;
    committed_.uen2un = pending_.uen2un;
    committed_.iou2iu = pending_.iou2iu;
}

std::vector<std::string> SunpinyinWrapper::pyStringFrom(std::string_view buffer) const
{
    std::vector<std::string> syllables;
    const std::string_view keys = engineKeys(buffer);
    if (keys.empty())
        return syllables;
    Engine& engine = Engine::shared();
    std::lock_guard lock(engine.mutex);
    if (!engine.ensureLoaded())
        return syllables;
    engine.apply(committed_);
    IPySegmentor& segmentor = *engine.syllableSegmentor;
    segmentor.clear();
    for (char c : keys)
        segmentor.push(static_cast<unsigned char>(c));
    for (const auto& segment : segmentor.getSegments(false)) {
        if (segment.m_type != IPySegmentor::SYLLABLE || segment.m_syllables.empty())
            continue;
        const char* text = CPinyinData::decodeSyllable(segment.m_syllables[0]);
        if (text && *text)
            syllables.emplace_back(modelSpelling(text));
    }
    segmentor.clear();
    return syllables;
}

std::string SunpinyinWrapper::candidateWithBuffer(std::string_view buffer) const
{
    const std::string_view keys = engineKeys(buffer);
    if (keys.empty())
        return {};
    Engine& engine = Engine::shared();
    std::lock_guard lock(engine.mutex);
    if (!engine.ensureLoaded())
        return {};
    engine.apply(committed_);
    engine.feedSession(keys);
    ::wstring sentence;
    engine.context->getBestSentence(sentence, 0);
    return utf8FromUcs4(sentence.data(), sentence.size());
}

} // namespace plat
