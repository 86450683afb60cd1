#pragma once
#include <cstdint>
#include <optional>
#include <utility>

namespace taviro {

// Option set over an integer: the sources that produced a candidate.
struct CodeTableFromType {
    std::int64_t rawValue = 0;

    constexpr CodeTableFromType() = default;
    constexpr explicit CodeTableFromType(std::int64_t raw) : rawValue(raw) {}
    constexpr CodeTableFromType(std::initializer_list<CodeTableFromType> members) {
        for (auto m : members) rawValue |= m.rawValue;
    }

    static const CodeTableFromType user;
    static const CodeTableFromType mainCodeTable;
    static const CodeTableFromType custom;
    static const CodeTableFromType emoji;
    static const CodeTableFromType english;
    static const CodeTableFromType assisted;
    // A text replacement counts as a custom phrase and as a typed-code record.
    static const CodeTableFromType textReplacement;

    constexpr bool isEmpty() const { return rawValue == 0; }
    // True when every bit of m is set.
    constexpr bool contains(CodeTableFromType m) const { return (rawValue & m.rawValue) == m.rawValue; }
    constexpr bool isSubset(CodeTableFromType other) const { return (rawValue & ~other.rawValue) == 0; }
    constexpr bool isSuperset(CodeTableFromType other) const { return other.isSubset(*this); }
    constexpr bool isDisjoint(CodeTableFromType other) const { return (rawValue & other.rawValue) == 0; }

    constexpr CodeTableFromType unionWith(CodeTableFromType o) const { return CodeTableFromType(rawValue | o.rawValue); }
    constexpr CodeTableFromType intersection(CodeTableFromType o) const { return CodeTableFromType(rawValue & o.rawValue); }
    constexpr CodeTableFromType symmetricDifference(CodeTableFromType o) const { return CodeTableFromType(rawValue ^ o.rawValue); }
    constexpr CodeTableFromType subtracting(CodeTableFromType o) const { return CodeTableFromType(rawValue & ~o.rawValue); }

    constexpr void formUnion(CodeTableFromType o) { rawValue |= o.rawValue; }
    constexpr void formIntersection(CodeTableFromType o) { rawValue &= o.rawValue; }
    constexpr void formSymmetricDifference(CodeTableFromType o) { rawValue ^= o.rawValue; }
    constexpr void subtract(CodeTableFromType o) { rawValue &= ~o.rawValue; }

    // Sets the bits of m; reports whether any of them was missing before.
    constexpr std::pair<bool, CodeTableFromType> insert(CodeTableFromType m) {
        bool missing = !contains(m);
        rawValue |= m.rawValue;
        return {missing, m};
    }
    // Clears the bits of m; returns m when all of them were set before.
    constexpr std::optional<CodeTableFromType> remove(CodeTableFromType m) {
        bool had = contains(m);
        rawValue &= ~m.rawValue;
        if (had) return m;
        return std::nullopt;
    }
    // Sets the bits of m; returns those of them that were already set.
    constexpr std::optional<CodeTableFromType> update(CodeTableFromType m) {
        std::int64_t before = rawValue & m.rawValue;
        rawValue |= m.rawValue;
        if (before != 0) return CodeTableFromType(before);
        return std::nullopt;
    }

    friend constexpr bool operator==(CodeTableFromType a, CodeTableFromType b) { return a.rawValue == b.rawValue; }
    friend constexpr CodeTableFromType operator|(CodeTableFromType a, CodeTableFromType b) { return a.unionWith(b); }
    friend constexpr CodeTableFromType operator&(CodeTableFromType a, CodeTableFromType b) { return a.intersection(b); }
    friend constexpr CodeTableFromType operator^(CodeTableFromType a, CodeTableFromType b) { return a.symmetricDifference(b); }
    constexpr CodeTableFromType& operator|=(CodeTableFromType o) { formUnion(o); return *this; }
    constexpr CodeTableFromType& operator&=(CodeTableFromType o) { formIntersection(o); return *this; }
};

inline constexpr CodeTableFromType CodeTableFromType::user{1};
inline constexpr CodeTableFromType CodeTableFromType::mainCodeTable{2};
inline constexpr CodeTableFromType CodeTableFromType::custom{4};
inline constexpr CodeTableFromType CodeTableFromType::emoji{8};
inline constexpr CodeTableFromType CodeTableFromType::english{16};
inline constexpr CodeTableFromType CodeTableFromType::assisted{32};
inline constexpr CodeTableFromType CodeTableFromType::textReplacement{6};

} // namespace taviro
