#include "terminal/key_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>


namespace tavimor {
namespace {

using Codes = std::vector<int>;

// Bytes that arrive at given times, on a clock that moves only while the
// reader waits. After the last byte every read fails, as on a terminal that
// hung up.
class TimedBytes final : public ByteSource, public Clock {
public:
    struct Arrival {
        long long atMs;
        std::string bytes;
    };
    explicit TimedBytes(const std::vector<Arrival>& arrivals) {
        for (const Arrival& a : arrivals) {
            for (const char c : a.bytes) queue_.push_back({a.atMs, static_cast<unsigned char>(c)});
        }
    }
    long long nowMs() override { return now_; }
    ByteRead readByte(unsigned char& byte, long long deadline) override {
        if (queue_.empty()) return ByteRead::Failed;
        const auto [at, next] = queue_.front();
        if (deadline >= 0 && at > deadline) {
            now_ = deadline;
            return ByteRead::TimedOut;
        }
        now_ = std::max(now_, at);
        byte = next;
        queue_.pop_front();
        return ByteRead::Got;
    }

private:
    std::deque<std::pair<long long, unsigned char>> queue_;
    long long now_ = 0;
};

// Every code the key reader makes of the arrivals, until the source fails.
Codes readAll(const std::vector<TimedBytes::Arrival>& arrivals) {
    TimedBytes source(arrivals);
    KeyReader reader(source, source);
    Codes codes;
    for (int code; (code = reader.readKey()) >= 0;) codes.push_back(code);
    EXPECT_FALSE(reader.hasPendingCode());
    return codes;
}

// Chunks that follow each other well within the wait for the rest of a key.
Codes decodeChunks(const std::vector<std::string>& chunks) {
    std::vector<TimedBytes::Arrival> arrivals;
    for (std::size_t i = 0; i < chunks.size(); ++i) arrivals.push_back({static_cast<long long>(10 * i), chunks[i]});
    return readAll(arrivals);
}

Codes decode(const std::string& bytes) { return decodeChunks({bytes}); }

struct Case {
    const char* name;
    std::string bytes;
    Codes codes;
};

// Runs every case whole and split at every byte boundary.
void checkCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(decode(c.bytes), c.codes) << c.name;
        for (std::size_t at = 1; at < c.bytes.size(); ++at) {
            EXPECT_EQ(decodeChunks({c.bytes.substr(0, at), c.bytes.substr(at)}), c.codes)
                << c.name << " split at " << at;
        }
    }
}

TEST(KeyDecoder, XtermAndVte) {
    checkCases({
        {"Up", "\x1b[A", {224, 72}},
        {"Down", "\x1b[B", {224, 80}},
        {"Right", "\x1b[C", {224, 77}},
        {"Left", "\x1b[D", {224, 75}},
        {"Up, application mode", "\x1bOA", {224, 72}},
        {"Down, application mode", "\x1bOB", {224, 80}},
        {"Right, application mode", "\x1bOC", {224, 77}},
        {"Left, application mode", "\x1bOD", {224, 75}},
        {"Home", "\x1b[H", {224, 71}},
        {"End", "\x1b[F", {224, 79}},
        {"Home, application mode", "\x1bOH", {224, 71}},
        {"End, application mode", "\x1bOF", {224, 79}},
        {"Insert", "\x1b[2~", {224, 82}},
        {"Delete", "\x1b[3~", {224, 83}},
        {"Page Up", "\x1b[5~", {224, 73}},
        {"Page Down", "\x1b[6~", {224, 81}},
        {"F1", "\x1bOP", {0, 59}},
        {"F2", "\x1bOQ", {0, 60}},
        {"F3", "\x1bOR", {0, 61}},
        {"F4", "\x1bOS", {0, 62}},
        {"F5", "\x1b[15~", {0, 63}},
        {"F6", "\x1b[17~", {0, 64}},
        {"F7", "\x1b[18~", {0, 65}},
        {"F8", "\x1b[19~", {0, 66}},
        {"F9", "\x1b[20~", {0, 67}},
        {"F10", "\x1b[21~", {0, 68}},
        {"F11", "\x1b[23~", {224, 133}},
        {"F12", "\x1b[24~", {224, 134}},
        {"Shift+Tab", "\x1b[Z", {0, 15}},
        {"keypad 5", "\x1b[E", {0, 76}},
    });
}

TEST(KeyDecoder, XtermModifiersOnTheCursorBlock) {
    checkCases({
        {"Shift+Up", "\x1b[1;2A", {224, 72}},
        {"Shift+Page Down", "\x1b[6;2~", {224, 81}},
        {"Ctrl+Home", "\x1b[1;5H", {224, 119}},
        {"Ctrl+Up", "\x1b[1;5A", {224, 141}},
        {"Ctrl+Page Up", "\x1b[5;5~", {224, 132}},
        {"Ctrl+Left", "\x1b[1;5D", {224, 115}},
        {"Ctrl+Right", "\x1b[1;5C", {224, 116}},
        {"Ctrl+End", "\x1b[1;5F", {224, 117}},
        {"Ctrl+Down", "\x1b[1;5B", {224, 145}},
        {"Ctrl+Page Down", "\x1b[6;5~", {224, 118}},
        {"Ctrl+Insert", "\x1b[2;5~", {224, 146}},
        {"Ctrl+Delete", "\x1b[3;5~", {224, 147}},
        {"Alt+Home", "\x1b[1;3H", {0, 151}},
        {"Alt+Up", "\x1b[1;3A", {0, 152}},
        {"Alt+Page Up", "\x1b[5;3~", {0, 153}},
        {"Alt+Left", "\x1b[1;3D", {0, 155}},
        {"Alt+Right", "\x1b[1;3C", {0, 157}},
        {"Alt+End", "\x1b[1;3F", {0, 159}},
        {"Alt+Down", "\x1b[1;3B", {0, 160}},
        {"Alt+Page Down", "\x1b[6;3~", {0, 161}},
        {"Alt+Insert", "\x1b[2;3~", {0, 162}},
        {"Alt+Delete", "\x1b[3;3~", {0, 163}},
        {"Ctrl+Shift+Up: Ctrl wins", "\x1b[1;6A", {224, 141}},
        {"Ctrl+Alt+Up: Alt wins", "\x1b[1;7A", {0, 152}},
        {"Meta+Up reads as Alt", "\x1b[1;9A", {0, 152}},
        {"Ctrl+Up, application mode with modifier", "\x1bO5A", {224, 141}},
    });
}

TEST(KeyDecoder, XtermModifiersOnFunctionKeys) {
    checkCases({
        {"Shift+F1", "\x1b[1;2P", {0, 84}},
        {"Ctrl+F1", "\x1b[1;5P", {0, 94}},
        {"Alt+F1", "\x1b[1;3P", {0, 104}},
        {"Alt+Shift+F2: Alt wins", "\x1b[1;4Q", {0, 105}},
        {"Shift+F4, older form", "\x1bO2S", {0, 87}},
        {"Shift+F5", "\x1b[15;2~", {0, 88}},
        {"Shift+F10", "\x1b[21;2~", {0, 93}},
        {"Ctrl+F10", "\x1b[21;5~", {0, 103}},
        {"Alt+F10", "\x1b[21;3~", {0, 113}},
        {"Shift+F11", "\x1b[23;2~", {224, 135}},
        {"Shift+F12", "\x1b[24;2~", {224, 136}},
        {"Ctrl+F11", "\x1b[23;5~", {224, 137}},
        {"Ctrl+F12", "\x1b[24;5~", {224, 138}},
        {"Alt+F11", "\x1b[23;3~", {224, 139}},
        {"Alt+F12", "\x1b[24;3~", {224, 140}},
    });
}

TEST(KeyDecoder, TmuxAndScreen) {
    checkCases({
        {"Home", "\x1b[1~", {224, 71}},
        {"End", "\x1b[4~", {224, 79}},
        {"F1", "\x1bOP", {0, 59}},
        {"Ctrl+Right", "\x1b[1;5C", {224, 116}},
    });
}

TEST(KeyDecoder, LinuxConsole) {
    checkCases({
        {"F1", "\x1b[[A", {0, 59}},
        {"F2", "\x1b[[B", {0, 60}},
        {"F3", "\x1b[[C", {0, 61}},
        {"F4", "\x1b[[D", {0, 62}},
        {"F5", "\x1b[[E", {0, 63}},
        {"F11 (also Shift+F1)", "\x1b[23~", {224, 133}},
        {"F12 (also Shift+F2)", "\x1b[24~", {224, 134}},
        {"Shift+F3", "\x1b[25~", {0, 86}},
        {"Shift+F4", "\x1b[26~", {0, 87}},
        {"Shift+F5", "\x1b[28~", {0, 88}},
        {"Shift+F6", "\x1b[29~", {0, 89}},
        {"Shift+F7", "\x1b[31~", {0, 90}},
        {"Shift+F8", "\x1b[32~", {0, 91}},
        {"Shift+F9", "\x1b[33~", {0, 92}},
        {"Shift+F10", "\x1b[34~", {0, 93}},
        {"Home", "\x1b[1~", {224, 71}},
        {"End", "\x1b[4~", {224, 79}},
        {"keypad 5", "\x1b[G", {0, 76}},
    });
}

TEST(KeyDecoder, Rxvt) {
    checkCases({
        {"Home", "\x1b[7~", {224, 71}},
        {"End", "\x1b[8~", {224, 79}},
        {"F1", "\x1b[11~", {0, 59}},
        {"F4", "\x1b[14~", {0, 62}},
        {"Shift+Up", "\x1b[a", {224, 72}},
        {"Shift+Down", "\x1b[b", {224, 80}},
        {"Shift+Right", "\x1b[c", {224, 77}},
        {"Shift+Left", "\x1b[d", {224, 75}},
        {"Ctrl+Up", "\x1bOa", {224, 141}},
        {"Ctrl+Down", "\x1bOb", {224, 145}},
        {"Ctrl+Right", "\x1bOc", {224, 116}},
        {"Ctrl+Left", "\x1bOd", {224, 115}},
        {"Shift+Insert", "\x1b[2$", {224, 82}},
        {"Shift+End", "\x1b[8$", {224, 79}},
        {"Ctrl+Delete", "\x1b[3^", {224, 147}},
        {"Ctrl+Home", "\x1b[7^", {224, 119}},
        {"Ctrl+Shift+Page Up", "\x1b[5@", {224, 132}},
        {"Ctrl+F1", "\x1b[11^", {0, 94}},
        {"Shift+F11", "\x1b[23$", {224, 135}},
        {"Ctrl+F12", "\x1b[24^", {224, 138}},
        {"Alt+Up", "\x1b\x1b[A", {0, 152}},
        {"Alt+Page Up", "\x1b\x1b[5~", {0, 153}},
        {"Alt+F1", "\x1b\x1bOP", {0, 104}},
        {"Alt+Ctrl+Delete", "\x1b\x1b[3^", {0, 163}},
    });
}

TEST(KeyDecoder, AltWithCharacters) {
    std::vector<Case> cases;
    const std::string rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    const int starts[] = {16, 30, 44};
    for (int r = 0; r < 3; ++r) {
        for (std::size_t i = 0; i < rows[r].size(); ++i) {
            const int code = starts[r] + static_cast<int>(i);
            const char lower = rows[r][i];
            const char upper = static_cast<char>(lower - 32);
            cases.push_back({"Alt+letter", std::string("\x1b") + lower, {0, code}});
            cases.push_back({"Alt+Shift+letter", std::string("\x1b") + upper, {0, code}});
        }
    }
    const std::string digits = "1234567890";
    const std::string shifted = "!@#$%^&*()";
    for (int i = 0; i < 10; ++i) {
        cases.push_back({"Alt+digit", std::string("\x1b") + digits[i], {0, 120 + i}});
        cases.push_back({"Alt+Shift+digit", std::string("\x1b") + shifted[i], {0, 120 + i}});
    }
    const struct {
        char plain, shifted;
        int code;
    } symbols[] = {{'-', '_', 130}, {'=', '+', 131}, {'[', '{', 26}, {']', '}', 27},
                   {';', ':', 39},  {'\'', '"', 40}, {'`', '~', 41}, {'\\', '|', 43},
                   {',', '<', 51},  {'.', '>', 52},  {'/', '?', 53}};
    for (const auto& s : symbols) {
        cases.push_back({"Alt+symbol", std::string("\x1b") + s.plain, {0, s.code}});
        cases.push_back({"Alt+Shift+symbol", std::string("\x1b") + s.shifted, {0, s.code}});
    }
    cases.push_back({"Alt+Backspace (DEL)", "\x1b\x7f", {0, 14}});
    cases.push_back({"Alt+Backspace (BS)", "\x1b\b", {0, 14}});
    cases.push_back({"Alt+Enter", "\x1b\r", {0, 28}});
    cases.push_back({"Alt+O", "\x1bO", {0, 24}});
    checkCases(cases);
}

TEST(KeyDecoder, PlainBytesAndUtf8) {
    checkCases({
        {"letter", "a", {97}},
        {"Enter", "\r", {13}},
        {"Ctrl+Enter", "\n", {10}},
        {"Backspace as DEL", "\x7f", {8}},
        {"Backspace as BS", "\b", {8}},
        {"Tab", "\t", {9}},
        {"Ctrl+C", "\x03", {3}},
        {"Ctrl+Z", "\x1a", {26}},
        {"Ctrl+Space", std::string(1, '\0'), {0, 3}},
        {"lone Escape", "\x1b", {27}},
        {"Escape twice", "\x1b\x1b", {27, 27}},
        {"e acute", "\xc3\xa9", {233}},
        {"a-umlaut then a", "\xc3\xa4z", {228, 122}},
        {"no-break space", "\xc2\xa0", {160}},
        {"euro sign, beyond Latin-1", "\xe2\x82\xac", {255}},
        {"emoji", "\xf0\x9f\x98\x80", {255}},
        {"Alt+e acute has no code", "\x1b\xc3\xa9", {}},
    });
}

TEST(KeyDecoder, BrokenInputIsConsumedWithoutLeaking) {
    checkCases({
        {"stray byte then key", "\xff" "a", {255, 97}},
        {"cut UTF-8 then key", "\xc3" "a", {195, 97}},
        {"cut three-byte UTF-8 then key", "\xe2\x82" "a", {226, 130, 97}},
        {"lone continuation byte", "\x80", {128}},
        {"overlong form", "\xc0\xaf", {192, 175}},
        {"surrogate", "\xed\xa0\x80", {237, 160, 128}},
        {"truncated UTF-8 at the end", "\xe2\x82", {226, 130}},
        {"unknown tilde key", "\x1b[99~x", {'x'}},
        {"bracketed paste markers", "\x1b[200~ab\x1b[201~", {'a', 'b'}},
        {"unknown final", "\x1b[1;2Xy", {'y'}},
        {"private parameters", "\x1b[?1;2cz", {'z'}},
        {"focus in and out", "\x1b[I\x1b[O", {}},
        {"X10 mouse report", "\x1b[M !!q", {'q'}},
        {"truncated CSI at the end", "\x1b[1;", {}},
        {"truncated CSI then a key", "\x1b[1;\x1b[A", {224, 72}},
        {"truncated SS3 then a key", "\x1bO1\rq", {13, 'q'}},
        {"Linux console, unknown letter", "\x1b[[Zq", {'q'}},
        {"runaway parameters", "\x1b[" + std::string(40, '1') + "~k", {'k'}},
        {"runaway parameters cut short", "\x1b[" + std::string(40, '1') + "\rk", {13, 'k'}},
        {"Alt with a control character", "\x1b\x01" "b", {'b'}},
    });
}

TEST(KeyReader, TheWaitForTheRestOfAKey) {
    const std::string ones(17, '1');
    struct Case {
        const char* name;
        std::vector<TimedBytes::Arrival> arrivals;
        Codes codes;
    };
    const Case cases[] = {
        {"Escape, then a letter after the wait", {{0, "\x1b"}, {kEscapeWaitMs + 50, "a"}}, {27, 'a'}},
        {"Escape and a letter within the wait: Alt", {{0, "\x1b"}, {kEscapeWaitMs - 10, "a"}}, {0, 30}},
        {"an arrow split at the wait's last moment", {{0, "\x1b["}, {kEscapeWaitMs, "A"}}, {224, 72}},
        {"half a UTF-8 character, the rest too late", {{0, "\xc3"}, {kEscapeWaitMs + 1, "\xa9"}}, {0xc3, 0xa9}},
        // A runaway sequence is dropped as it arrives, and every byte dropped
        // gives the rest a new wait of its own.
        {"runaway dropped while it keeps coming",
         {{0, "\x1b["}, {17, ones}, {60, "22"}, {110, "~"}, {111, "k"}},
         {'k'}},
        // Once the wait runs out the sequence is over: what comes later is keys.
        {"runaway cut short by the wait", {{0, "\x1b[" + ones}, {300, "5~"}}, {'5', '~'}},
    };
    for (const Case& c : cases) EXPECT_EQ(readAll(c.arrivals), c.codes) << c.name;
}

TEST(KeyDecoder, PrefixesWaitForMoreUntilTheWaitRunsOut) {
    for (const std::string prefix : {"\x1b", "\x1b[", "\x1bO", "\x1b[1;", "\x1b[[", "\xc3", "\xe2\x82", "\x1b\x1b"}) {
        const auto* data = reinterpret_cast<const unsigned char*>(prefix.data());
        KeyDecoderState state;
        EXPECT_TRUE(decodeKey(std::span<const unsigned char>(data, prefix.size()), false, state).needMore)
            << prefix.size();
        EXPECT_FALSE(decodeKey(std::span<const unsigned char>(data, prefix.size()), true, state).needMore);
    }
}

TEST(KeyDecoder, RandomBytesGiveOnlyValidCodes) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> length(1, 60);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> kind(0, 3);
    const std::string pieces[] = {"\x1b", "\x1b[", "\x1bO", ";", "1", "~", "A", "5", "[", "\xc3", "\xe2", "\x82"};
    for (int run = 0; run < 20000; ++run) {
        std::vector<std::string> chunks(1);
        for (int n = length(random); n > 0; --n) {
            // Mostly bytes that matter to the decoder, split at random.
            const int k = kind(random);
            if (k == 0) chunks.back() += static_cast<char>(byte(random));
            else if (k == 1) chunks.back() += pieces[static_cast<std::size_t>(byte(random)) % std::size(pieces)];
            else if (k == 2) chunks.back() += static_cast<char>('0' + byte(random) % 10);
            else chunks.emplace_back();
        }
        const Codes codes = decodeChunks(chunks);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            ASSERT_GE(codes[i], 0);
            ASSERT_LE(codes[i], 255);
        }
    }
}

}  // namespace
}  // namespace tavimor
