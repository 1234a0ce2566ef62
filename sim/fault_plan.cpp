#include "sim/fault_plan.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <utility>

namespace veltrix::sim {
namespace {

constexpr uint8_t kStreamWriteCode = 0x07;
constexpr uint8_t kWrite32Code = 0x0F;

bool Matches(int filter, uint8_t command) {
    if (filter == kAnyCommand) {
        return true;
    }
    if (filter == kWriteCommands) {
        return command == kStreamWriteCode || command == kWrite32Code;
    }
    return filter == command;
}

constexpr std::array<std::pair<std::string_view, FaultKind>, 9> kKindNames{{
    {"silence", FaultKind::kSilence},
    {"refuse-write", FaultKind::kRefuseWrite},
    {"corrupt-fcs", FaultKind::kCorruptFcs},
    {"wrong-code", FaultKind::kWrongCode},
    {"stall", FaultKind::kStall},
    {"vanish", FaultKind::kVanish},
    {"log-message", FaultKind::kLogMessage},
    {"short-reply", FaultKind::kShortReply},
    {"other-address", FaultKind::kOtherAddress},
}};

// Decimal, or hexadecimal with a 0x prefix; the whole text must be the number.
bool ParseNumber(std::string_view text, long long* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// A number from 0 to 1, the whole text.
bool ParseFraction(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && *value >= 0.0 && *value <= 1.0;
}

bool ApplyKey(Fault& fault, std::string_view key, std::string_view value, std::string* error) {
    if (key == "cmd" && (value == "any" || value == "write")) {
        fault.command = value == "any" ? kAnyCommand : kWriteCommands;
        return true;
    }
    long long n = 0;
    if (!ParseNumber(value, &n) || n < 0 || n > 0xFFFFFFFFLL) {
        *error = "bad number '" + std::string(value) + "' for " + std::string(key);
        return false;
    }
    if (key == "nth" && n >= 1 && n <= 0x7FFFFFFF) {
        fault.skip = static_cast<int>(n - 1);
    } else if (key == "count" && n >= 1 && n <= 0x7FFFFFFF) {
        fault.count = static_cast<int>(n);
    } else if (key == "cmd" && n <= 0xFF) {
        fault.command = static_cast<int>(n);
    } else if (key == "code" && n <= 0xFF) {
        fault.code = static_cast<int>(n);
    } else if (key == "bytes" && n >= 1 && n <= 0xFFFF) {
        fault.bytes = static_cast<int>(n);
    } else if (key == "ms") {
        fault.ms = static_cast<uint32_t>(n);
    } else {
        *error = "bad fault key or value: " + std::string(key) + "=" + std::string(value);
        return false;
    }
    return true;
}

}  // namespace

void FaultPlan::Randomize(const RandomFaults& random) {
    random_ = random;
    rng_.seed(random.seed);
}

std::optional<Fault> FaultPlan::Draw() {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (!random_ || chance(rng_) >= random_->rate) {
        return std::nullopt;
    }
    // A stall past 1.5 s outlasts the host's 1 s time-out: its reply comes late.
    static constexpr FaultKind kKinds[] = {
        FaultKind::kSilence, FaultKind::kRefuseWrite, FaultKind::kCorruptFcs, FaultKind::kStall,
        FaultKind::kStall,   FaultKind::kVanish,      FaultKind::kLogMessage,
    };
    Fault fault;
    fault.kind = kKinds[std::uniform_int_distribution<size_t>(0, std::size(kKinds) - 1)(rng_)];
    fault.ms = fault.kind == FaultKind::kVanish
                   ? std::uniform_int_distribution<uint32_t>(100, 2000)(rng_)
                   : std::uniform_int_distribution<uint32_t>(50, 1500)(rng_);
    return fault;
}

std::optional<Fault> FaultPlan::Next(uint8_t command) {
    std::optional<Fault> hit;
    for (Fault& f : faults_) {
        if (!Matches(f.command, command) || f.count <= 0) {
            continue;
        }
        if (f.skip > 0) {
            --f.skip;
        } else if (!hit) {
            hit = f;
            --f.count;
        }
    }
    std::erase_if(faults_, [](const Fault& f) { return f.count <= 0; });
    return hit ? hit : Draw();
}

std::optional<RandomFaults> ParseRandomFaults(std::string_view text, std::string* error) {
    RandomFaults random;
    while (!text.empty()) {
        const size_t next = text.find(',');
        const std::string_view item = text.substr(0, next);
        text = next == std::string_view::npos ? "" : text.substr(next + 1);
        const size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string value(eq == std::string_view::npos ? "" : item.substr(eq + 1));
        long long seed = 0;
        if (key == "seed" && ParseNumber(value, &seed) && seed >= 0 && seed <= 0xFFFFFFFFLL) {
            random.seed = static_cast<uint32_t>(seed);
        } else if (key != "rate" || !ParseFraction(value, &random.rate)) {
            *error = "bad random-fault option '" + std::string(item) + "' (seed=N,rate=0..1)";
            return std::nullopt;
        }
    }
    return random;
}

std::optional<Fault> ParseFault(std::string_view script, std::string* error) {
    std::string ignored;
    if (!error) {
        error = &ignored;
    }
    const size_t comma = script.find(',');
    const std::string_view kindName = script.substr(0, comma);
    Fault fault;
    bool known = false;
    for (const auto& [name, kind] : kKindNames) {
        if (name == kindName) {
            fault.kind = kind;
            known = true;
        }
    }
    if (!known) {
        *error = "unknown fault kind '" + std::string(kindName) + "'";
        return std::nullopt;
    }
    if (fault.kind == FaultKind::kRefuseWrite) {
        fault.command = kWriteCommands;
    }
    std::string_view rest = comma == std::string_view::npos ? "" : script.substr(comma + 1);
    while (!rest.empty()) {
        if (rest.starts_with("text=")) {  // the text runs to the end, commas included
            fault.text = std::string(rest.substr(5));
            break;
        }
        const size_t next = rest.find(',');
        const std::string_view item = rest.substr(0, next);
        rest = next == std::string_view::npos ? "" : rest.substr(next + 1);
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            *error = "fault option without '=': " + std::string(item);
            return std::nullopt;
        }
        if (!ApplyKey(fault, item.substr(0, eq), item.substr(eq + 1), error)) {
            return std::nullopt;
        }
    }
    return fault;
}

}  // namespace veltrix::sim
