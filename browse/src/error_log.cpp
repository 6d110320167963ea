#include "browse/error.h"

#include <nuv_file_replace.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

constexpr size_t kLogNameCapacity = 128;
constexpr const char* kDefaultLogName = "NUIErrors.log";
constexpr int kDefaultLogLevel = 5;

struct LogState {
    std::mutex lock;
    std::string fileName;
    bool started = false;
    int level = kDefaultLogLevel;
};

LogState& State() {
    static LogState* state = new LogState;
    return *state;
}

void SetNameLocked(LogState& s, const char* name) {
    s.fileName = name == nullptr ? std::string() : std::string(name);
    if (s.fileName.size() > kLogNameCapacity - 1) s.fileName.resize(kLogNameCapacity - 1);
}

void StartLocked(LogState& s, const char* name) {
    s.started = true;
    if (name != nullptr && *name != '\0') SetNameLocked(s, name);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    char date[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    std::strftime(date, sizeof date, "%m/%d/%y", &local);
    // A new log replaces the old one whole; a log that cannot be written keeps the old one.
    char header[64];
    const int size = std::snprintf(header, sizeof header, " FI Error Log, %s, %s\n\n", clock, date);
    nuv::WriteFileWhole(s.fileName, std::string_view(header, static_cast<size_t>(size)));
}

void ResetLocked(LogState& s) {
    s.started = false;
    s.fileName.clear();
    s.level = kDefaultLogLevel;
}

}  // namespace

void StartErrorLog(const char* name) {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    StartLocked(s, name);
}

void WriteErrorLogLine(const char* text) {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.started) {
        if (s.fileName.empty()) SetNameLocked(s, kDefaultLogName);
        StartLocked(s, nullptr);
    }
    FILE* f = std::fopen(s.fileName.c_str(), "a");
    if (f == nullptr) return;
    std::fprintf(f, " %s\n", text == nullptr ? "" : text);
    std::fclose(f);
}

void LogError(const char* text, int level) {
    LogState& s = State();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.level < level) return;
    }
    WriteErrorLogLine(text);
}

void SetErrorLogFile(const char* name) {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.started) ResetLocked(s);
    SetNameLocked(s, name);
}

int SetErrorLogLevel(int level) {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    int previous = s.level;
    s.level = level;
    return previous;
}

void ResetErrorLog() {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    ResetLocked(s);
}

std::string GetErrorLogFileName() {
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.fileName;
}

