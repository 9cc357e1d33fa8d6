#include "terminal/key_decoder.h"

#include <array>
#include <string_view>

namespace tavimor {
namespace {

constexpr unsigned char kEsc = 0x1B;

// Lead codes of keys that produce no character: 224 for the separate cursor
// block and F11/F12, 0 for the other keys and for Alt combinations.
constexpr int kLeadCursorBlock = 224;
constexpr int kLeadOther = 0;

enum class Key {
    None,  // consumed without a code
    Home, Up, PageUp, Left, Right, End, Down, PageDown, Insert, Delete,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
    Center,   // keypad 5 without Num Lock
    BackTab,  // Shift+Tab
    Char,     // a character key; its code is in Parsed::ch
};

constexpr int kShift = 1;
constexpr int kAlt = 2;
constexpr int kCtrl = 4;

// A key as the terminal named it, before it is turned into codes.
struct Parsed {
    bool needMore = false;
    std::size_t consumed = 0;
    Key key = Key::None;
    int mods = 0;
    int ch = 0;
    bool runaway = false;  // a sequence too long to hold: drop the rest of it
};

// The codes of every key that produces no character, by modifier. Where
// several modifiers are held, Alt wins over Ctrl and Ctrl over Shift. A
// second code of -1 means the combination has no code and is skipped.
struct CodePair {
    int lead;
    int second;
};
struct KeyCodes {
    Key key;
    CodePair plain, shift, ctrl, alt;
};
constexpr int L0 = kLeadOther;
constexpr int L224 = kLeadCursorBlock;
constexpr std::array<KeyCodes, 24> kKeyCodes = {{
    // The cursor block: lead 224, but lead 0 with Alt; Shift changes nothing.
    {Key::Home, {L224, 71}, {L224, 71}, {L224, 119}, {L0, 151}},
    {Key::Up, {L224, 72}, {L224, 72}, {L224, 141}, {L0, 152}},
    {Key::PageUp, {L224, 73}, {L224, 73}, {L224, 132}, {L0, 153}},
    {Key::Left, {L224, 75}, {L224, 75}, {L224, 115}, {L0, 155}},
    {Key::Right, {L224, 77}, {L224, 77}, {L224, 116}, {L0, 157}},
    {Key::End, {L224, 79}, {L224, 79}, {L224, 117}, {L0, 159}},
    {Key::Down, {L224, 80}, {L224, 80}, {L224, 145}, {L0, 160}},
    {Key::PageDown, {L224, 81}, {L224, 81}, {L224, 118}, {L0, 161}},
    {Key::Insert, {L224, 82}, {L224, 82}, {L224, 146}, {L0, 162}},
    {Key::Delete, {L224, 83}, {L224, 83}, {L224, 147}, {L0, 163}},
    {Key::F1, {L0, 59}, {L0, 84}, {L0, 94}, {L0, 104}},
    {Key::F2, {L0, 60}, {L0, 85}, {L0, 95}, {L0, 105}},
    {Key::F3, {L0, 61}, {L0, 86}, {L0, 96}, {L0, 106}},
    {Key::F4, {L0, 62}, {L0, 87}, {L0, 97}, {L0, 107}},
    {Key::F5, {L0, 63}, {L0, 88}, {L0, 98}, {L0, 108}},
    {Key::F6, {L0, 64}, {L0, 89}, {L0, 99}, {L0, 109}},
    {Key::F7, {L0, 65}, {L0, 90}, {L0, 100}, {L0, 110}},
    {Key::F8, {L0, 66}, {L0, 91}, {L0, 101}, {L0, 111}},
    {Key::F9, {L0, 67}, {L0, 92}, {L0, 102}, {L0, 112}},
    {Key::F10, {L0, 68}, {L0, 93}, {L0, 103}, {L0, 113}},
    // F11 and F12 keep lead 224 with every modifier.
    {Key::F11, {L224, 133}, {L224, 135}, {L224, 137}, {L224, 139}},
    {Key::F12, {L224, 134}, {L224, 136}, {L224, 138}, {L224, 140}},
    {Key::Center, {L0, 76}, {L0, 76}, {L0, 143}, {L0, -1}},
    {Key::BackTab, {L0, 15}, {L0, 15}, {L0, 15}, {L0, 15}},
}};

constexpr bool keyCodesWellFormed() {
    for (std::size_t i = 0; i < kKeyCodes.size(); ++i) {
        const KeyCodes& row = kKeyCodes[i];
        if (static_cast<std::size_t>(row.key) != i + 1) return false;  // indexed by Key, after None
        for (const CodePair& c : {row.plain, row.shift, row.ctrl, row.alt}) {
            if (c.lead != L0 && c.lead != L224) return false;
            if (c.second < -1 || c.second == 0 || c.second > 255) return false;
        }
        const bool cursorBlock = row.key >= Key::Home && row.key <= Key::Delete;
        if (cursorBlock && (row.plain.lead != L224 || row.alt.lead != L0)) return false;
        if (row.key >= Key::F1 && row.key <= Key::F10) {
            const int f = static_cast<int>(row.key) - static_cast<int>(Key::F1);
            if (row.plain.second != 59 + f || row.shift.second != 84 + f || row.ctrl.second != 94 + f ||
                row.alt.second != 104 + f) {
                return false;
            }
        }
    }
    return true;
}
static_assert(keyCodesWellFormed());

// Keys of "CSI n ~" by n. The Linux console and rxvt send Shift+F3 to
// Shift+F10 as the strings of F13 to F20 (25 to 34).
struct TildeKey {
    int number;
    Key key;
    int mods;
};
constexpr std::array<TildeKey, 28> kTildeKeys = {{
    {1, Key::Home, 0},    {2, Key::Insert, 0},  {3, Key::Delete, 0},  {4, Key::End, 0},
    {5, Key::PageUp, 0},  {6, Key::PageDown, 0}, {7, Key::Home, 0},   {8, Key::End, 0},
    {11, Key::F1, 0},     {12, Key::F2, 0},     {13, Key::F3, 0},     {14, Key::F4, 0},
    {15, Key::F5, 0},     {17, Key::F6, 0},     {18, Key::F7, 0},     {19, Key::F8, 0},
    {20, Key::F9, 0},     {21, Key::F10, 0},    {23, Key::F11, 0},    {24, Key::F12, 0},
    {25, Key::F3, kShift}, {26, Key::F4, kShift}, {28, Key::F5, kShift}, {29, Key::F6, kShift},
    {31, Key::F7, kShift}, {32, Key::F8, kShift}, {33, Key::F9, kShift}, {34, Key::F10, kShift},
}};

// PC keyboard scan codes for Alt plus a character; upper case and shifted
// symbols give the code of their key.
int altCode(int ch) {
    constexpr std::string_view kRows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    constexpr int kRowStart[] = {16, 30, 44};
    constexpr std::string_view kDigits = "1234567890";
    constexpr std::string_view kShiftedDigits = "!@#$%^&*()";
    struct Symbol {
        char plain, shifted;
        int code;
    };
    constexpr Symbol kSymbols[] = {
        {'-', '_', 130}, {'=', '+', 131}, {'[', '{', 26},  {']', '}', 27},
        {';', ':', 39},  {'\'', '"', 40}, {'`', '~', 41},  {'\\', '|', 43},
        {',', '<', 51},  {'.', '>', 52},  {'/', '?', 53},
    };
    if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
    for (int row = 0; row < 3; ++row) {
        const auto at = kRows[row].find(static_cast<char>(ch));
        if (at != std::string_view::npos) return kRowStart[row] + static_cast<int>(at);
    }
    for (const std::string_view digits : {kDigits, kShiftedDigits}) {
        const auto at = digits.find(static_cast<char>(ch));
        if (at != std::string_view::npos) return 120 + static_cast<int>(at);
    }
    for (const Symbol& s : kSymbols) {
        if (ch == s.plain || ch == s.shifted) return s.code;
    }
    switch (ch) {
        case 8:
        case 127: return 14;  // Backspace
        case 13: return 28;   // Enter
        case 9: return 165;   // Tab
        default: return -1;
    }
}

KeyDecode noCode(std::size_t consumed) {
    KeyDecode d;
    d.consumed = consumed;
    return d;
}

KeyDecode oneCode(std::size_t consumed, int code) {
    KeyDecode d;
    d.consumed = consumed;
    d.codes[0] = code;
    d.count = 1;
    return d;
}

KeyDecode twoCodes(std::size_t consumed, int lead, int second) {
    KeyDecode d;
    d.consumed = consumed;
    d.codes[0] = lead;
    d.codes[1] = second;
    d.count = 2;
    return d;
}

KeyDecode toCodes(const Parsed& p) {
    if (p.needMore) {
        KeyDecode d;
        d.needMore = true;
        return d;
    }
    const std::size_t n = p.consumed;
    const bool alt = (p.mods & kAlt) != 0;
    if (p.key == Key::None) return noCode(n);
    if (p.key == Key::Char) {
        if (alt) {
            const int code = altCode(p.ch);
            return code < 0 ? noCode(n) : twoCodes(n, kLeadOther, code);
        }
        if (p.ch == 0) return twoCodes(n, kLeadOther, 3);  // Ctrl+Space
        if (p.ch == 127) return oneCode(n, 8);              // Backspace
        return oneCode(n, p.ch);
    }
    const KeyCodes& row = kKeyCodes[static_cast<std::size_t>(p.key) - 1];
    const CodePair c = alt                      ? row.alt
                       : (p.mods & kCtrl) != 0  ? row.ctrl
                       : (p.mods & kShift) != 0 ? row.shift
                                                : row.plain;
    return c.second < 0 ? noCode(n) : twoCodes(n, c.lead, c.second);
}

Parsed needMore() {
    Parsed p;
    p.needMore = true;
    return p;
}

Parsed skipped(std::size_t consumed) {
    Parsed p;
    p.consumed = consumed;
    return p;
}

// A sequence that grew past the longest one kept: what is here is dropped,
// and so is the rest of it as it arrives.
Parsed runaway(std::size_t consumed) {
    Parsed p;
    p.consumed = consumed;
    p.runaway = true;
    return p;
}

Parsed keyOf(std::size_t consumed, Key key, int mods = 0, int ch = 0) {
    Parsed p;
    p.consumed = consumed;
    p.key = key;
    p.mods = mods;
    p.ch = ch;
    return p;
}

// Modifiers of an xterm parameter m: b = m - 1, bit 0 Shift, bit 1 Alt,
// bit 2 Ctrl, bit 3 Meta (taken as Alt).
int modifiersOf(int m) {
    if (m < 2) return 0;
    const int b = m - 1;
    int mods = 0;
    if ((b & 1) != 0) mods |= kShift;
    if ((b & (2 | 8)) != 0) mods |= kAlt;
    if ((b & 4) != 0) mods |= kCtrl;
    return mods;
}

// The numeric parameters of a sequence: digits separated by ';'. Returns
// false when the parameter bytes hold anything else (private markers).
struct Params {
    int count = 0;
    int value[2] = {0, 0};
    bool present[2] = {false, false};
};

bool readParams(std::span<const unsigned char> text, Params& out) {
    int index = 0;
    for (const unsigned char c : text) {
        if (c == ';') {
            if (++index >= 2) return false;
            continue;
        }
        if (c < '0' || c > '9') return false;
        if (out.value[index] < 10000) out.value[index] = out.value[index] * 10 + (c - '0');
        out.present[index] = true;
    }
    out.count = index + 1;
    return true;
}

bool isParamByte(unsigned char c) { return c >= 0x30 && c <= 0x3F; }
bool isIntermediateByte(unsigned char c) { return c >= 0x20 && c <= 0x2F; }
bool isFinalByte(unsigned char c) { return c >= 0x40 && c <= 0x7E; }

// Sequences longer than this are garbage and are dropped whole.
constexpr std::size_t kMaxParamBytes = 16;

Parsed letterKey(std::size_t consumed, unsigned char final, int mods) {
    switch (final) {
        case 'A': return keyOf(consumed, Key::Up, mods);
        case 'B': return keyOf(consumed, Key::Down, mods);
        case 'C': return keyOf(consumed, Key::Right, mods);
        case 'D': return keyOf(consumed, Key::Left, mods);
        case 'H': return keyOf(consumed, Key::Home, mods);
        case 'F': return keyOf(consumed, Key::End, mods);
        case 'E': return keyOf(consumed, Key::Center, mods);
        case 'P': return keyOf(consumed, Key::F1, mods);
        case 'Q': return keyOf(consumed, Key::F2, mods);
        case 'R': return keyOf(consumed, Key::F3, mods);
        case 'S': return keyOf(consumed, Key::F4, mods);
        default: return skipped(consumed);
    }
}

Parsed tildeKey(std::size_t consumed, int number, int mods) {
    for (const TildeKey& t : kTildeKeys) {
        if (t.number == number) return keyOf(consumed, t.key, mods | t.mods);
    }
    return skipped(consumed);
}

// The body of a CSI or SS3 sequence after its two introducing bytes:
// parameter bytes, then (CSI only) intermediate bytes, then the final byte.
struct Body {
    bool complete = false;  // when false, early is the whole result
    Parsed early;
    Params params;
    bool numeric = false;        // the parameters are digits and ';' only
    bool parametersEmpty = true;
    bool intermediates = false;
    unsigned char final = 0;
    std::size_t consumed = 0;    // through the final byte
};

Body stopAt(Parsed early) {
    Body b;
    b.early = early;
    return b;
}

Body scanBody(std::span<const unsigned char> bytes, bool atEnd, bool csi) {
    const std::size_t n = bytes.size();
    std::size_t i = 2;
    while (i < n && isParamByte(bytes[i])) {
        if (i - 2 >= kMaxParamBytes) return stopAt(runaway(i));
        ++i;
    }
    Body b;
    b.parametersEmpty = i == 2;
    b.numeric = readParams(bytes.subspan(2, i - 2), b.params);
    // rxvt ends Shift+editing keys with '$', which is otherwise an
    // intermediate byte.
    if (csi && i < n && bytes[i] == '$' && b.numeric && b.params.count == 1 && b.params.present[0]) {
        b.complete = true;
        b.final = '$';
        b.consumed = i + 1;
        return b;
    }
    const std::size_t intermediateStart = i;
    while (csi && i < n && isIntermediateByte(bytes[i])) {
        if (i - 2 >= kMaxParamBytes) return stopAt(runaway(i));
        ++i;
    }
    if (i == n) return stopAt(atEnd ? skipped(n) : needMore());
    if (!isFinalByte(bytes[i])) return stopAt(skipped(i));  // malformed: keep the byte that broke it
    b.complete = true;
    b.intermediates = i != intermediateStart;
    b.final = bytes[i];
    b.consumed = i + 1;
    return b;
}

// "ESC [" has been seen at bytes[0..1].
Parsed parseCsi(std::span<const unsigned char> bytes, bool atEnd) {
    const std::size_t n = bytes.size();
    if (n == 2) return atEnd ? keyOf(2, Key::Char, kAlt, '[') : needMore();

    if (bytes[2] == '[') {  // Linux console: ESC [ [ A to ESC [ [ E are F1 to F5
        if (n == 3) return atEnd ? skipped(3) : needMore();
        const unsigned char f = bytes[3];
        if (f >= 'A' && f <= 'E') return keyOf(4, static_cast<Key>(static_cast<int>(Key::F1) + (f - 'A')));
        return skipped(isFinalByte(f) ? 4 : 3);
    }

    const Body b = scanBody(bytes, atEnd, true);
    if (!b.complete) return b.early;
    const std::size_t consumed = b.consumed;
    if (b.final == '$') return tildeKey(consumed, b.params.value[0], kShift);
    if (b.final == 'M' && b.parametersEmpty && !b.intermediates) {
        // X10 mouse report: three more bytes follow.
        if (n < consumed + 3) return atEnd ? skipped(n) : needMore();
        return skipped(consumed + 3);
    }
    if (b.intermediates || !b.numeric) return skipped(consumed);

    const int mods = b.params.count == 2 ? modifiersOf(b.params.value[1]) : 0;
    switch (b.final) {
        case '~': return tildeKey(consumed, b.params.value[0], mods);
        case '^': return tildeKey(consumed, b.params.value[0], mods | kCtrl);
        case '@': return tildeKey(consumed, b.params.value[0], mods | kCtrl | kShift);
        case 'Z': return keyOf(consumed, Key::BackTab);
        case 'G': return keyOf(consumed, Key::Center, mods);
        case 'a': return keyOf(consumed, Key::Up, kShift);
        case 'b': return keyOf(consumed, Key::Down, kShift);
        case 'c': return keyOf(consumed, Key::Right, kShift);
        case 'd': return keyOf(consumed, Key::Left, kShift);
        default: return letterKey(consumed, b.final, mods);
    }
}

// "ESC O" has been seen at bytes[0..1].
Parsed parseSs3(std::span<const unsigned char> bytes, bool atEnd) {
    if (bytes.size() == 2) return atEnd ? keyOf(2, Key::Char, kAlt, 'O') : needMore();
    const Body b = scanBody(bytes, atEnd, false);
    if (!b.complete) return b.early;
    const std::size_t consumed = b.consumed;
    if (!b.numeric) return skipped(consumed);
    // Older terminals send the modifier as the only parameter (ESC O 2 P).
    const int mods = b.params.count == 2 ? modifiersOf(b.params.value[1])
                     : b.params.present[0] ? modifiersOf(b.params.value[0])
                                           : 0;
    const unsigned char final = b.final;
    constexpr std::string_view kKeypad = "*+,-./0123456789";  // ESC O j to ESC O y
    if (final >= 'j' && final <= 'y') return keyOf(consumed, Key::Char, 0, kKeypad[final - 'j']);
    switch (final) {
        case 'M': return keyOf(consumed, Key::Char, 0, 13);  // keypad Enter
        case 'X': return keyOf(consumed, Key::Char, 0, '=');
        case 'a': return keyOf(consumed, Key::Up, kCtrl);
        case 'b': return keyOf(consumed, Key::Down, kCtrl);
        case 'c': return keyOf(consumed, Key::Right, kCtrl);
        case 'd': return keyOf(consumed, Key::Left, kCtrl);
        default: return letterKey(consumed, final, mods);
    }
}

// A UTF-8 character starting at bytes[0] (a byte of 128 or more).
Parsed parseUtf8(std::span<const unsigned char> bytes, bool atEnd) {
    const unsigned char lead = bytes[0];
    const Parsed invalid = keyOf(1, Key::Char, 0, lead);
    if (lead < 0xC2 || lead > 0xF4) return invalid;
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    unsigned codePoint = lead & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
    for (std::size_t k = 1; k < length; ++k) {
        if (k >= bytes.size()) return atEnd ? invalid : needMore();
        const unsigned char c = bytes[k];
        if (c < low || c > high) return invalid;
        low = 0x80;
        high = 0xBF;
        codePoint = (codePoint << 6) | (c & 0x3Fu);
    }
    // The 8-bit character set holds Latin-1; anything past it reports 255.
    return keyOf(length, Key::Char, 0, codePoint <= 0xFF ? static_cast<int>(codePoint) : 0xFF);
}

// bytes[0] is ESC.
Parsed parseEscape(std::span<const unsigned char> bytes, bool atEnd) {
    const std::size_t n = bytes.size();
    if (n == 1) return atEnd ? keyOf(1, Key::Char, 0, kEsc) : needMore();
    const unsigned char next = bytes[1];
    if (next == '[') return parseCsi(bytes, atEnd);
    if (next == 'O') return parseSs3(bytes, atEnd);
    if (next == kEsc) {
        // rxvt sends Alt with a sequence as an extra ESC in front of it.
        if (n == 2) {
            if (!atEnd) return needMore();
        } else if (bytes[2] == '[' || bytes[2] == 'O') {
            Parsed inner = parseEscape(bytes.subspan(1), atEnd);
            if (inner.needMore) return inner;
            inner.consumed += 1;
            inner.mods |= kAlt;
            return inner;
        }
        return keyOf(1, Key::Char, 0, kEsc);  // Escape pressed twice
    }
    if (next >= 0x80) {  // Alt with a non-ASCII character: no code for it
        const Parsed inner = parseUtf8(bytes.subspan(1), atEnd);
        if (inner.needMore) return inner;
        return skipped(inner.consumed + 1);
    }
    return keyOf(2, Key::Char, kAlt, next);
}

Parsed parseKey(std::span<const unsigned char> bytes, bool atEnd) {
    const unsigned char first = bytes[0];
    if (first == kEsc) return parseEscape(bytes, atEnd);
    if (first >= 0x80) return parseUtf8(bytes, atEnd);
    return keyOf(1, Key::Char, 0, first);
}

}  // namespace

KeyDecode decodeKey(std::span<const unsigned char> bytes, bool atEnd, KeyDecoderState& state) {
    std::size_t dropped = 0;
    if (state.dropping) {
        while (dropped < bytes.size() && (isParamByte(bytes[dropped]) || isIntermediateByte(bytes[dropped]))) {
            ++dropped;
        }
        if (dropped < bytes.size() || atEnd) {
            state.dropping = false;
            if (dropped < bytes.size() && isFinalByte(bytes[dropped])) ++dropped;
        }
        if (dropped > 0) return noCode(dropped);
    }
    if (bytes.empty()) {
        KeyDecode d;
        d.needMore = !atEnd;
        return d;
    }
    const Parsed p = parseKey(bytes, atEnd);
    if (p.runaway) state.dropping = !atEnd;
    return toCodes(p);
}

}  // namespace tavimor
