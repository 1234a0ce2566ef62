// What tests and the program may look at or change while the board runs.

#include "sim/simulated_board.h"

namespace veltrix::sim {

void SimulatedBoard::InjectFault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.Add(fault);
}

void SimulatedBoard::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.Clear();
}

void SimulatedBoard::SetDdrVerdict(char verdict) {
    std::lock_guard lock(mutex_);
    ddr_.SetVerdict(verdict);
}

void SimulatedBoard::SetVerdictRecord(const std::string& record) {
    std::lock_guard lock(mutex_);
    sdram_.SetRecord(record);
}

void SimulatedBoard::BringBack() {
    std::lock_guard lock(mutex_);
    broughtBack_ = true;
}

BoardMode SimulatedBoard::mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

std::filesystem::path SimulatedBoard::linkPath() const {
    std::lock_guard lock(mutex_);
    return linkPath_;
}

std::filesystem::path SimulatedBoard::emmcPath() const {
    std::lock_guard lock(mutex_);
    return emmc_.path();
}

uint64_t SimulatedBoard::emmcSize() const {
    std::lock_guard lock(mutex_);
    return emmc_.size();
}

std::vector<uint8_t> SimulatedBoard::ReadMemory(uint32_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return memory_.Read(address, length);
}

std::vector<std::pair<uint64_t, uint64_t>> SimulatedBoard::MemoryRanges() const {
    std::lock_guard lock(mutex_);
    return memory_.WrittenRanges();
}

uint32_t SimulatedBoard::goAddress() const {
    std::lock_guard lock(mutex_);
    return dload_.goAddress();
}

std::vector<uint8_t> SimulatedBoard::SaharaImage() const {
    std::lock_guard lock(mutex_);
    return lastSahara_.image;
}

std::vector<SaharaServed> SimulatedBoard::SaharaRequestsServed() const {
    std::lock_guard lock(mutex_);
    return lastSahara_.served;
}

std::vector<uint8_t> SimulatedBoard::SaharaHelloResponse() const {
    std::lock_guard lock(mutex_);
    return lastSahara_.helloResponse;
}

bool SimulatedBoard::ReadEmmc(uint64_t offset, std::span<uint8_t> out) const {
    std::lock_guard lock(mutex_);
    return emmc_.Read(offset, out);
}

bool SimulatedBoard::WriteEmmc(uint64_t offset, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    return emmc_.Write(offset, bytes);
}

bool SimulatedBoard::pmicOn() const {
    std::lock_guard lock(mutex_);
    return programmer_->pmicOn();
}

int SimulatedBoard::requestsServed() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::vector<uint8_t>> SimulatedBoard::RequestJournal() const {
    std::lock_guard lock(mutex_);
    return journal_.Entries();
}

void SimulatedBoard::ClearRequestJournal() {
    std::lock_guard lock(mutex_);
    journal_.Clear();
}

int SimulatedBoard::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

int SimulatedBoard::verdictsWritten() const {
    std::lock_guard lock(mutex_);
    return verdicts_;
}

int SimulatedBoard::ddrTestsRun() const {
    std::lock_guard lock(mutex_);
    return ddr_.testsRun();
}

}  // namespace veltrix::sim
