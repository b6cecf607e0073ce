// The debug log library: reads debug_log.conf once, answers flag queries
// without locks, and writes every message to standard error (or a sink).
#include "debug_log.h"
#include "debug_log_control.h"
#include "debug_log_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string_view>
#include <unistd.h>
#include <unordered_set>

std::atomic<bool> debug_log_stream_output_postponed{false};

namespace {

// The configuration is a small text file; anything beyond this is not a
// flag file and is not read further.
constexpr std::size_t kMaxConfigBytes = 1 << 20;
constexpr std::size_t kMaxFlagLength = 128;

// An immutable set of flags. Readers take a pointer to the current set
// without a lock; replaced sets are kept (they are few and tiny) so that a
// reader holding an old pointer stays safe.
struct FlagSet
{
    std::vector<std::string> names;
    std::unordered_set<std::string_view> lookup;
    std::uint64_t lengthMask = 0; // bit (length % 64) set for every flag length

    explicit FlagSet(std::vector<std::string> flags) : names(std::move(flags))
    {
        for (const std::string& name : names) {
            lookup.insert(name);
            lengthMask |= std::uint64_t{1} << (name.size() % 64);
        }
    }
};

struct State
{
    State() { current.store(&emptySet); }

    const FlagSet emptySet{{}};
    std::mutex mutex;                  // guards loading and the path
    std::vector<std::unique_ptr<FlagSet>> sets;
    std::atomic<const FlagSet*> current{nullptr};
    std::once_flag firstLoad;
    std::atomic<bool> loaded{false}; // lets queries skip call_once once loaded
    std::string argv0;
    std::string configPath;
    // The sink runs without any lock held, so that it may log or query
    // flags itself; a replaced sink is waited for until no other thread is
    // inside it, so that what it refers to can go once it is replaced.
    std::mutex sinkMutex;
    std::condition_variable sinkIdle;
    std::shared_ptr<const debug_log_sink_t> sink;
    int sinkCalls = 0;
    std::atomic<bool> hasSink{false};
};

// How deep this thread is inside sink calls: a sink that logs writes to
// standard error rather than into itself.
thread_local int sinkDepth = 0;

State& state()
{
    static State& s = *new State; // never destroyed: threads may log during exit
    return s;
}

bool isFlagCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string executablePath(const std::string& argv0)
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<std::size_t>(n));
    return argv0;
}

bool readSmallFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.resize(kMaxConfigBytes);
    in.read(&text[0], static_cast<std::streamsize>(kMaxConfigBytes));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

// Where the flags come from: $DEBUG_LOG_CONF, else beside the executable,
// else the current folder.
std::vector<std::string> candidateConfigPaths(const std::string& argv0)
{
    std::vector<std::string> paths;
    if (const char* env = std::getenv("DEBUG_LOG_CONF"); env && *env) {
        paths.emplace_back(env);
        return paths;
    }
    const std::string folder = folderOf(executablePath(argv0));
    if (!folder.empty())
        paths.push_back(folder + "debug_log.conf");
    paths.emplace_back("debug_log.conf");
    return paths;
}

void installFlags(std::vector<std::string> flags)
{
    State& s = state();
    auto set = std::make_unique<FlagSet>(std::move(flags));
    s.current.store(set.get(), std::memory_order_release);
    s.sets.push_back(std::move(set));
}

void loadFromConfigFile()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string text;
    s.configPath.clear();
    for (const std::string& path : candidateConfigPaths(s.argv0)) {
        if (readSmallFile(path, text)) {
            s.configPath = path;
            break;
        }
    }
    installFlags(debug_log_parse_flags(text));
}

const FlagSet* currentFlags()
{
    State& s = state();
    if (!s.loaded.load(std::memory_order_acquire)) {
        std::call_once(s.firstLoad, loadFromConfigFile);
        s.loaded.store(true, std::memory_order_release);
    }
    return s.current.load(std::memory_order_acquire);
}

bool emitToSink(const char* text, std::size_t length)
{
    State& s = state();
    std::shared_ptr<const debug_log_sink_t> sink;
    {
        std::lock_guard<std::mutex> lock(s.sinkMutex);
        if (!s.sink)
            return false;
        sink = s.sink;
        ++s.sinkCalls;
    }
    ++sinkDepth;
    (*sink)(text, length);
    --sinkDepth;
    {
        std::lock_guard<std::mutex> lock(s.sinkMutex);
        --s.sinkCalls;
    }
    s.sinkIdle.notify_all();
    return true;
}

void emit(const char* text, std::size_t length)
{
    if (state().hasSink.load(std::memory_order_acquire) && sinkDepth == 0 && emitToSink(text, length))
        return;
    // One write per piece keeps pieces from different threads whole.
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

void emitFormatted(const char* format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return;
    if (static_cast<std::size_t>(needed) < sizeof small) {
        emit(small, static_cast<std::size_t>(needed));
        return;
    }
    std::string large(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(&large[0], large.size(), format, args);
    emit(large.data(), static_cast<std::size_t>(needed));
}

} // namespace

std::vector<std::string> debug_log_parse_flags(const std::string& text)
{
    std::vector<std::string> flags;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        line = trim(line);
        if (line.empty() || line.size() > kMaxFlagLength)
            continue;
        if (!std::all_of(line.begin(), line.end(), isFlagCharacter))
            continue; // not a flag name: ignored rather than guessed at
        flags.push_back(line);
    }
    std::sort(flags.begin(), flags.end());
    flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
    return flags;
}

void debug_log_set_argv0(const char* argv0)
{
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        state().argv0 = argv0 ? argv0 : "";
    }
    debug_log_reload_flags();
}

bool debug_log_is_enabled(const char* flag)
{
    const FlagSet* flags = currentFlags();
    if (flags->names.empty() || flag == nullptr)
        return false;
    const std::size_t length = std::strlen(flag);
    if ((flags->lengthMask & (std::uint64_t{1} << (length % 64))) == 0)
        return false;
    return flags->lookup.count(std::string_view(flag, length)) != 0;
}

void debug_log_printf(const char* flag, const char* format, ...)
{
    if (!debug_log_is_enabled(flag))
        return;
    va_list args;
    va_start(args, format);
    emitFormatted(format, args);
    va_end(args);
}

void debug_log_printf_always(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    emitFormatted(format, args);
    va_end(args);
}

void debug_log_output_string(const char* text)
{
    if (text)
        emit(text, std::strlen(text));
}

std::stringstream& get_debug_log_stringstream()
{
    thread_local std::stringstream stream;
    return stream;
}

debug_log_ostream& debug_log_cout(const char* flag)
{
    static debug_log_ostream enabled(true);
    static debug_log_ostream disabled(false);
    return debug_log_is_enabled(flag) ? enabled : disabled;
}

debug_log_ostream& get_debug_log_ostream_enabled()
{
    static debug_log_ostream enabled(true);
    return enabled;
}

void debug_log_load_flags_from_text(const std::string& text)
{
    State& s = state();
    std::call_once(s.firstLoad, [] {}); // a later first query must not reload the file
    std::lock_guard<std::mutex> lock(s.mutex);
    s.configPath.clear();
    installFlags(debug_log_parse_flags(text));
}

void debug_log_reload_flags()
{
    State& s = state();
    std::call_once(s.firstLoad, [] {});
    loadFromConfigFile();
}

std::vector<std::string> debug_log_enabled_flags()
{
    return currentFlags()->names;
}

std::string debug_log_config_path()
{
    currentFlags();
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().configPath;
}

void debug_log_set_sink(debug_log_sink_t sink)
{
    State& s = state();
    std::unique_lock<std::mutex> lock(s.sinkMutex);
    const bool has = static_cast<bool>(sink);
    s.sink = has ? std::make_shared<const debug_log_sink_t>(std::move(sink)) : nullptr;
    s.hasSink.store(has, std::memory_order_release);
    // Calls of this thread's own (when a sink replaces itself) are not waited for.
    s.sinkIdle.wait(lock, [&] { return s.sinkCalls <= sinkDepth; });
}
