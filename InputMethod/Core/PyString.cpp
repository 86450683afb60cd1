#include "InputMethod/Core/PyString.h"

#include <array>
#include <unordered_map>

namespace taviro {
namespace {

// The syllable inventory: every syllable as (initial, final). Its text is the
// initial's spelling followed by the final's.
#define TAVIRO_ZERO_INITIAL(X) \
    X(a) X(ai) X(an) X(ang) X(ao) X(e) X(ei) X(en) X(eng) X(er) X(o) X(ou)

// K marks a syllable whose spelling is a C++ keyword ("long"); its constant
// takes a trailing underscore.
#define TAVIRO_SYLLABLES(X, K) \
    X(b, a) X(b, ai) X(b, an) X(b, ang) X(b, ao) X(b, ei) X(b, en) X(b, eng) \
    X(b, i) X(b, ian) X(b, iao) X(b, ie) X(b, in) X(b, ing) X(b, o) X(b, u) \
    X(p, a) X(p, ai) X(p, an) X(p, ang) X(p, ao) X(p, ei) X(p, en) X(p, eng) \
    X(p, i) X(p, ian) X(p, iao) X(p, ie) X(p, in) X(p, ing) X(p, o) X(p, ou) X(p, u) \
    X(m, a) X(m, ai) X(m, an) X(m, ang) X(m, ao) X(m, e) X(m, ei) X(m, en) X(m, eng) \
    X(m, i) X(m, ian) X(m, iao) X(m, ie) X(m, in) X(m, ing) X(m, iu) X(m, o) X(m, ou) X(m, u) \
    X(f, a) X(f, an) X(f, ang) X(f, ei) X(f, en) X(f, eng) X(f, iao) X(f, o) X(f, ong) \
    X(f, ou) X(f, u) \
    X(d, a) X(d, ai) X(d, an) X(d, ang) X(d, ao) X(d, e) X(d, ei) X(d, en) X(d, eng) \
    X(d, i) X(d, ia) X(d, ian) X(d, iao) X(d, ie) X(d, ing) X(d, iu) X(d, ong) X(d, ou) \
    X(d, u) X(d, uan) X(d, ui) X(d, un) X(d, uo) \
    X(t, a) X(t, ai) X(t, an) X(t, ang) X(t, ao) X(t, e) X(t, ei) X(t, eng) X(t, i) \
    X(t, ian) X(t, iao) X(t, ie) X(t, ing) X(t, ong) X(t, ou) X(t, u) X(t, uan) X(t, ui) \
    X(t, un) X(t, uo) \
    X(n, a) X(n, ai) X(n, an) X(n, ang) X(n, ao) X(n, e) X(n, ei) X(n, en) X(n, eng) \
    X(n, i) X(n, ian) X(n, iang) X(n, iao) X(n, ie) X(n, in) X(n, ing) X(n, iu) X(n, ong) \
    X(n, ou) X(n, u) X(n, uan) X(n, ue) X(n, un) X(n, uo) X(n, v) \
    X(l, a) X(l, ai) X(l, an) X(l, ang) X(l, ao) X(l, e) X(l, ei) X(l, eng) X(l, i) \
    X(l, ia) X(l, ian) X(l, iang) X(l, iao) X(l, ie) X(l, in) X(l, ing) X(l, iu) K(l, ong) \
    X(l, ou) X(l, u) X(l, uan) X(l, ue) X(l, un) X(l, uo) X(l, v) \
    X(g, a) X(g, ai) X(g, an) X(g, ang) X(g, ao) X(g, e) X(g, ei) X(g, en) X(g, eng) \
    X(g, ong) X(g, ou) X(g, u) X(g, ua) X(g, uai) X(g, uan) X(g, uang) X(g, ui) X(g, un) X(g, uo) \
    X(k, a) X(k, ai) X(k, an) X(k, ang) X(k, ao) X(k, e) X(k, ei) X(k, en) X(k, eng) \
    X(k, ong) X(k, ou) X(k, u) X(k, ua) X(k, uai) X(k, uan) X(k, uang) X(k, ui) X(k, un) X(k, uo) \
    X(h, a) X(h, ai) X(h, an) X(h, ang) X(h, ao) X(h, e) X(h, ei) X(h, en) X(h, eng) \
    X(h, ong) X(h, ou) X(h, u) X(h, ua) X(h, uai) X(h, uan) X(h, uang) X(h, ui) X(h, un) X(h, uo) \
    X(j, i) X(j, ia) X(j, ian) X(j, iang) X(j, iao) X(j, ie) X(j, in) X(j, ing) X(j, iong) \
    X(j, iu) X(j, u) X(j, uan) X(j, ue) X(j, un) \
    X(q, i) X(q, ia) X(q, ian) X(q, iang) X(q, iao) X(q, ie) X(q, in) X(q, ing) X(q, iong) \
    X(q, iu) X(q, u) X(q, uan) X(q, ue) X(q, un) \
    X(x, i) X(x, ia) X(x, ian) X(x, iang) X(x, iao) X(x, ie) X(x, in) X(x, ing) X(x, iong) \
    X(x, iu) X(x, u) X(x, uan) X(x, ue) X(x, un) \
    X(zh, a) X(zh, ai) X(zh, an) X(zh, ang) X(zh, ao) X(zh, e) X(zh, en) X(zh, eng) X(zh, i) \
    X(zh, ong) X(zh, ou) X(zh, u) X(zh, ua) X(zh, uai) X(zh, uan) X(zh, uang) X(zh, ui) \
    X(zh, un) X(zh, uo) \
    X(ch, a) X(ch, ai) X(ch, an) X(ch, ang) X(ch, ao) X(ch, e) X(ch, en) X(ch, eng) X(ch, i) \
    X(ch, ong) X(ch, ou) X(ch, u) X(ch, ua) X(ch, uai) X(ch, uan) X(ch, uang) X(ch, ui) \
    X(ch, un) X(ch, uo) \
    X(sh, a) X(sh, ai) X(sh, an) X(sh, ang) X(sh, ao) X(sh, e) X(sh, ei) X(sh, en) X(sh, eng) \
    X(sh, i) X(sh, ou) X(sh, u) X(sh, ua) X(sh, uai) X(sh, uan) X(sh, uang) X(sh, ui) \
    X(sh, un) X(sh, uo) \
    X(r, an) X(r, ang) X(r, ao) X(r, e) X(r, en) X(r, eng) X(r, i) X(r, ong) X(r, ou) \
    X(r, u) X(r, ua) X(r, uan) X(r, ui) X(r, un) X(r, uo) \
    X(z, a) X(z, ai) X(z, an) X(z, ang) X(z, ao) X(z, e) X(z, ei) X(z, en) X(z, eng) \
    X(z, i) X(z, ong) X(z, ou) X(z, u) X(z, uan) X(z, ui) X(z, un) X(z, uo) \
    X(c, a) X(c, ai) X(c, an) X(c, ang) X(c, ao) X(c, e) X(c, en) X(c, eng) X(c, i) \
    X(c, ong) X(c, ou) X(c, u) X(c, uan) X(c, ui) X(c, un) X(c, uo) \
    X(s, a) X(s, ai) X(s, an) X(s, ang) X(s, ao) X(s, e) X(s, ei) X(s, en) X(s, eng) \
    X(s, i) X(s, ong) X(s, ou) X(s, u) X(s, uan) X(s, ui) X(s, un) X(s, uo) \
    X(y, a) X(y, an) X(y, ang) X(y, ao) X(y, e) X(y, i) X(y, in) X(y, ing) X(y, o) \
    X(y, ong) X(y, ou) X(y, u) X(y, uan) X(y, ue) X(y, un) \
    X(w, a) X(w, ai) X(w, an) X(w, ang) X(w, ei) X(w, en) X(w, eng) X(w, o) X(w, u)

#define TAVIRO_INITIALS(X) \
    X(b) X(p) X(m) X(f) X(d) X(t) X(n) X(l) X(g) X(k) X(h) X(j) X(q) X(x) \
    X(zh) X(ch) X(sh) X(r) X(w) X(y) X(z) X(c) X(s)

#define TAVIRO_FINALS(X) \
    X(ai) X(ei) X(ui) X(ao) X(ou) X(iu) X(ie) X(ue) X(er) X(an) X(en) X(in) X(un) \
    X(ang) X(eng) X(ing) X(ong) X(ua) X(uai) X(uan) X(uang) X(iang) X(iong) X(iao) \
    X(ian) X(uo) X(ia) X(a) X(o) X(e) X(i) X(u) X(v)

// One constant per syllable with an initial.
struct PyCombo {
    PyCombo() = delete;
#define TAVIRO_COMBO(s, y) static constexpr int s##y = ShengMu::s | YunMu::y;
#define TAVIRO_COMBO_K(s, y) static constexpr int s##y##_ = ShengMu::s | YunMu::y;
    TAVIRO_SYLLABLES(TAVIRO_COMBO, TAVIRO_COMBO_K)
#undef TAVIRO_COMBO
#undef TAVIRO_COMBO_K
};

#define TAVIRO_ZERO_ENTRY(y) SyllableEntry{#y, YunMu::y},
#define TAVIRO_SYLLABLE_ENTRY(s, y) SyllableEntry{#s #y, PyCombo::s##y},
#define TAVIRO_SYLLABLE_ENTRY_K(s, y) SyllableEntry{#s #y, PyCombo::s##y##_},
constexpr SyllableEntry kSyllables[] = {
    TAVIRO_ZERO_INITIAL(TAVIRO_ZERO_ENTRY)
    TAVIRO_SYLLABLES(TAVIRO_SYLLABLE_ENTRY, TAVIRO_SYLLABLE_ENTRY_K)
};
#undef TAVIRO_ZERO_ENTRY
#undef TAVIRO_SYLLABLE_ENTRY
#undef TAVIRO_SYLLABLE_ENTRY_K

#define TAVIRO_INITIAL_ENTRY(s) SyllableEntry{#s, ShengMu::s},
constexpr SyllableEntry kInitials[] = {TAVIRO_INITIALS(TAVIRO_INITIAL_ENTRY)};
#undef TAVIRO_INITIAL_ENTRY

#define TAVIRO_FINAL_ENTRY(y) SyllableEntry{#y, YunMu::y},
constexpr SyllableEntry kFinals[] = {TAVIRO_FINALS(TAVIRO_FINAL_ENTRY)};
#undef TAVIRO_FINAL_ENTRY

static_assert(std::size(kSyllables) == 413);
static_assert(std::size(kInitials) == 23);
static_assert(std::size(kFinals) == 33);

// The largest code in use is 0x1720 ("yu"); a direct index covers them all.
constexpr int kCodeLimit = 0x1800;

struct Tables {
    std::array<std::string_view, kCodeLimit> textByCode{};
    std::array<bool, kCodeLimit> bareInitial{};
    std::unordered_map<std::string_view, int> codeByText;
    std::unordered_map<std::string_view, int> finalByText;

    Tables() {
        codeByText.reserve(std::size(kSyllables) + std::size(kInitials));
        for (const auto& e : kSyllables) {
            textByCode[e.code] = e.text;
            codeByText.emplace(e.text, e.code);
        }
        for (const auto& e : kInitials) {
            textByCode[e.code] = e.text;
            codeByText.emplace(e.text, e.code);
            bareInitial[e.code] = true;
        }
        for (const auto& e : kFinals) finalByText.emplace(e.text, e.code);
    }
};

const Tables& tables() {
    static const Tables t; // thread-safe one-time construction
    return t;
}

bool inRange(int code) { return code > 0 && code < kCodeLimit; }

} // namespace

std::span<const SyllableEntry> PyString::allSyllables() { return kSyllables; }
std::span<const SyllableEntry> PyString::bareInitials() { return kInitials; }
std::span<const SyllableEntry> PyString::allFinals() { return kFinals; }

std::vector<std::vector<int>> PyString::syllableCodesForTexts(
    const std::vector<std::vector<std::string>>& groups) {
    const auto& map = tables().codeByText;
    std::vector<std::vector<int>> result;
    result.reserve(groups.size());
    for (const auto& group : groups) {
        std::vector<int> codes;
        codes.reserve(group.size());
        for (const auto& text : group) {
            auto it = map.find(text);
            codes.push_back(it == map.end() ? 0 : it->second);
        }
        result.push_back(std::move(codes));
    }
    return result;
}

std::vector<std::vector<std::string>> PyString::syllableTextsForCodes(
    const std::vector<std::vector<int>>& groups) {
    std::vector<std::vector<std::string>> result;
    result.reserve(groups.size());
    for (const auto& group : groups) {
        std::vector<std::string> texts;
        texts.reserve(group.size());
        for (int code : group) texts.emplace_back(syllableTextForCode(code));
        result.push_back(std::move(texts));
    }
    return result;
}

bool PyString::isBareInitialCode(int code) {
    return inRange(code) && tables().bareInitial[code];
}

std::optional<int> PyString::finalIndexForText(std::string_view text) {
    const auto& map = tables().finalByText;
    auto it = map.find(text);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

std::optional<int> PyString::syllableCodeForText(std::string_view text) {
    const auto& map = tables().codeByText;
    auto it = map.find(text);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

std::string_view PyString::syllableTextForCode(int code) {
    return inRange(code) ? tables().textByCode[code] : std::string_view{};
}

bool PyString::isSyllableCode(int code) { return !syllableTextForCode(code).empty(); }

} // namespace taviro
