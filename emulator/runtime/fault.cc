// Fault injection: NOTESEMU_FAIL="Call=status,Call#n=status,..." makes an
// exported call fail as a real server would, without mocking the program.
#include "runtime/fault.h"

#include <stdlib.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>


namespace {

struct Rule {
    std::string call;
    unsigned long nth;  // 0: every call
    STATUS status;
};

struct Faults {
    std::mutex lock;
    bool haveSetting = false;
    std::string setting;  // the variable's value the rules were parsed from
    std::vector<Rule> rules;
    std::map<std::string, unsigned long> calls;
};

Faults &State() {
    static Faults faults;
    return faults;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool ParseNumber(std::string_view s, unsigned long max, unsigned long *out) {
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    unsigned long value = 0;
    for (char c : s) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        if (digit >= base || value > (max - digit) / base) return false;
        value = value * base + digit;
    }
    *out = value;
    return true;
}

bool ParseRule(std::string_view entry, Rule *rule) {
    size_t eq = entry.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view name = Trim(entry.substr(0, eq));
    std::string_view status = Trim(entry.substr(eq + 1));
    unsigned long nth = 0;
    size_t hash = name.find('#');
    if (hash != std::string_view::npos) {
        if (!ParseNumber(name.substr(hash + 1), 1000000000ul, &nth) || nth == 0) return false;
        name = name.substr(0, hash);
    }
    unsigned long code;
    // A status of 0 would be a "failure" that reports success: not a fault.
    if (name.empty() || !ParseNumber(status, 0xFFFF, &code) || code == 0) return false;
    rule->call.assign(name.data(), name.size());
    rule->nth = nth;
    rule->status = static_cast<STATUS>(code);
    return true;
}

std::vector<Rule> ParseRules(std::string_view setting) {
    std::vector<Rule> rules;
    while (!setting.empty()) {
        size_t comma = setting.find(',');
        Rule rule;
        if (ParseRule(setting.substr(0, comma), &rule)) rules.push_back(rule);
        setting.remove_prefix(comma == std::string_view::npos ? setting.size() : comma + 1);
    }
    return rules;
}

}  // namespace

namespace emu {

bool InjectedFault(const char *call, STATUS *status) {
    if (call == nullptr) return false;
    Faults &f = State();
    std::lock_guard<std::mutex> guard(f.lock);
    const char *env = getenv("NOTESEMU_FAIL");
    bool have = env != nullptr && env[0] != '\0';
    // A new value starts a new count, so "#n" means the n-th call since the
    // variable took this value (in a fresh process: since the start).
    if (have != f.haveSetting || (have && f.setting != env)) {
        f.haveSetting = have;
        f.setting = have ? env : "";
        f.rules = ParseRules(f.setting);
        f.calls.clear();
    }
    if (f.rules.empty()) return false;
    unsigned long n = ++f.calls[call];
    for (const Rule &rule : f.rules) {
        if (rule.call != call) continue;
        if (rule.nth != 0 && rule.nth != n) continue;
        if (status != nullptr) *status = rule.status;
        return true;
    }
    return false;
}

}  // namespace emu
