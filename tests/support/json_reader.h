#pragma once

// A small JSON reader for the tests: enough to read back what the program
// writes (glTF's JSON), with no library of its own. Reading fails loudly:
// a test that meets text it cannot read throws.

#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavimor::test {

class Json {
public:
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    static Json parse(std::string_view text) {
        std::size_t at = 0;
        Json value = read(text, at);
        skipBlanks(text, at);
        if (at != text.size()) fail("text after the value", at);
        return value;
    }

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    double number() const {
        expect(Kind::Number);
        return number_;
    }
    long long integer() const { return static_cast<long long>(number()); }
    std::size_t index() const { return static_cast<std::size_t>(number()); }
    const std::string& text() const {
        expect(Kind::String);
        return text_;
    }
    bool boolean() const {
        expect(Kind::Boolean);
        return boolean_;
    }
    // An array's element; an object's member (a missing member is null).
    const Json& operator[](std::size_t i) const {
        expect(Kind::Array);
        if (i >= items_.size()) throw std::out_of_range("JSON array index " + std::to_string(i));
        return items_[i];
    }
    const Json& operator[](int i) const { return (*this)[static_cast<std::size_t>(i)]; }
    const Json& operator[](std::string_view key) const {
        expect(Kind::Object);
        const auto it = members_.find(std::string(key));
        return it == members_.end() ? null() : it->second;
    }
    const Json& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    bool contains(std::string_view key) const { return kind_ == Kind::Object && members_.count(std::string(key)) > 0; }
    // A number member, or fallback where there is none.
    double value(std::string_view key, double fallback) const { return contains(key) ? (*this)[key].number() : fallback; }
    std::size_t size() const { return kind_ == Kind::Object ? members_.size() : items_.size(); }
    const std::vector<Json>& items() const {
        expect(Kind::Array);
        return items_;
    }
    const std::map<std::string, Json>& members() const {
        expect(Kind::Object);
        return members_;
    }
    std::vector<Json>::const_iterator begin() const { return items().begin(); }
    std::vector<Json>::const_iterator end() const { return items().end(); }

private:
    static const Json& null() {
        static const Json none;
        return none;
    }
    [[noreturn]] static void fail(const std::string& what, std::size_t at) {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(at));
    }
    void expect(Kind kind) const {
        if (kind_ != kind) throw std::runtime_error("JSON: not the kind of value asked for");
    }
    static void skipBlanks(std::string_view t, std::size_t& at) {
        while (at < t.size() && (t[at] == ' ' || t[at] == '\n' || t[at] == '\r' || t[at] == '\t')) ++at;
    }
    static bool take(std::string_view t, std::size_t& at, std::string_view word) {
        if (t.substr(at, word.size()) != word) return false;
        at += word.size();
        return true;
    }
    static std::string readString(std::string_view t, std::size_t& at) {
        if (at >= t.size() || t[at] != '"') fail("a string expected", at);
        std::string out;
        for (++at; at < t.size() && t[at] != '"'; ++at) {
            if (t[at] != '\\') {
                out.push_back(t[at]);
                continue;
            }
            if (++at >= t.size()) fail("an unfinished escape", at);
            const char c = t[at];
            if (c == 'u') {
                const unsigned code = static_cast<unsigned>(std::stoul(std::string(t.substr(at + 1, 4)), nullptr, 16));
                at += 4;
                if (code >= 0x80) fail("a character beyond ASCII", at);
                out.push_back(static_cast<char>(code));
            } else {
                const std::string_view plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
                const std::size_t k = plain.find(c);
                if (k == std::string_view::npos) fail("an unknown escape", at);
                out.push_back(meant[k]);
            }
        }
        if (at >= t.size()) fail("an unfinished string", at);
        ++at;
        return out;
    }
    static Json read(std::string_view t, std::size_t& at) {
        skipBlanks(t, at);
        if (at >= t.size()) fail("a value expected", at);
        Json v;
        const char c = t[at];
        if (c == '{') {
            v.kind_ = Kind::Object;
            ++at;
            skipBlanks(t, at);
            if (take(t, at, "}")) return v;
            do {
                skipBlanks(t, at);
                std::string key = readString(t, at);
                skipBlanks(t, at);
                if (!take(t, at, ":")) fail("':' expected", at);
                if (v.members_.count(key) > 0) fail("a member named twice", at);
                v.members_[std::move(key)] = read(t, at);
                skipBlanks(t, at);
            } while (take(t, at, ","));
            if (!take(t, at, "}")) fail("'}' expected", at);
        } else if (c == '[') {
            v.kind_ = Kind::Array;
            ++at;
            skipBlanks(t, at);
            if (take(t, at, "]")) return v;
            do {
                v.items_.push_back(read(t, at));
                skipBlanks(t, at);
            } while (take(t, at, ","));
            if (!take(t, at, "]")) fail("']' expected", at);
        } else if (c == '"') {
            v.kind_ = Kind::String;
            v.text_ = readString(t, at);
        } else if (take(t, at, "true") || take(t, at, "false")) {
            v.kind_ = Kind::Boolean;
            v.boolean_ = t[at - 1] == 'e' && t[at - 2] == 'u';
        } else if (take(t, at, "null")) {
            v.kind_ = Kind::Null;
        } else {
            const std::string rest(t.substr(at, 64));
            char* end = nullptr;
            v.number_ = std::strtod(rest.c_str(), &end);
            if (end == rest.c_str()) fail("a value expected", at);
            v.kind_ = Kind::Number;
            at += static_cast<std::size_t>(end - rest.c_str());
        }
        return v;
    }

    Kind kind_ = Kind::Null;
    double number_ = 0;
    bool boolean_ = false;
    std::string text_;
    std::vector<Json> items_;
    std::map<std::string, Json> members_;
};

}  // namespace tavimor::test
