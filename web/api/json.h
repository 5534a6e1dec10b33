// A little JSON for the page's answers, written as it goes.
#ifndef KLAVOR_WEB_API_JSON_H
#define KLAVOR_WEB_API_JSON_H

#include <cstdio>
#include <string>
#include <vector>

namespace page {

class Json {
public:
    Json& Open(char bracket) {
        Comma();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    Json& Close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    Json& Key(const char* key) {
        Comma();
        String(key);
        out_ += ':';
        first_ = true;
        return *this;
    }
    Json& Str(const std::string& s) {
        Comma();
        String(s);
        return *this;
    }
    Json& Num(long long n) {
        Comma();
        out_ += std::to_string(n);
        return *this;
    }
    Json& Bool(bool b) {
        Comma();
        out_ += b ? "true" : "false";
        return *this;
    }
    Json& Ints(const std::vector<int>& list) {
        Open('[');
        for (int n : list) Num(n);
        return Close(']');
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
    bool first_ = true;

    void Comma() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    void String(const std::string& s) {
        out_ += '"';
        for (char c : s) {
            auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out_ += buf;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }
};

}  // namespace page

#endif
