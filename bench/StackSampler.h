// A sampling profiler for one thread of this process: every millisecond the thread is suspended, its stack
// walked with the modules' own unwind tables, and the return addresses kept as module + offset. Only the
// x86_64 build can walk stacks this way; the 32-bit build records the instruction pointer and what frame
// pointers it finds.
//
// Nothing is allocated while the thread is suspended: it may hold the heap's or the loader's lock, so the
// walk uses exception tables read beforehand and copies the frames into a fixed array.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TStackSampler {
public:
    explicit TStackSampler(DWORD threadId)
    {
        thread_ = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
        ReadModules();
        if (thread_)
            sampler_ = std::thread([this] { Run(); });
    }
    ~TStackSampler() { Stop(); }
    TStackSampler(const TStackSampler&) = delete;
    TStackSampler& operator=(const TStackSampler&) = delete;

    void Stop()
    {
        stop_ = true;
        if (sampler_.joinable())
            sampler_.join();
        if (thread_) {
            CloseHandle(thread_);
            thread_ = nullptr;
        }
    }

    // One line per distinct stack, innermost frame first: "<samples> module+0xoffset module+0xoffset ...".
    bool Write(const char* path) const { return Write(path, stacks_); }

private:
    using TStacks = std::map<std::vector<DWORD64>, int>;

    bool Write(const char* path, const TStacks& stacks) const
    {
        FILE* file = std::fopen(path, "w");
        if (!file)
            return false;
        for (const auto& [stack, count] : stacks) {
            std::fprintf(file, "%d", count);
            for (DWORD64 address : stack)
                std::fprintf(file, " %s", Name(address).c_str());
            std::fprintf(file, "\n");
        }
        std::fclose(file);
        return true;
    }

public:
    int Samples() const { return samples_; }

    // The samples taken between two stamps (QueryPerformanceCounter) go also to the slow stacks: what the thread
    // did during a span that turned out long. Any thread; spans older than the last few seconds are lost.
    void NoteSlowSpan(LONGLONG from, LONGLONG to)
    {
        std::lock_guard<std::mutex> lock(spansMutex_);
        spans_.push_back({from, to});
    }
    bool WriteSlow(const char* path) const { return Write(path, slow_); }
    int SlowSamples() const { return slowSamples_; }

private:
    struct Module {
        DWORD64 base = 0;
        DWORD64 end = 0;
        std::string name;
#if defined(_M_X64) || defined(__x86_64__)
        const RUNTIME_FUNCTION* functions = nullptr;
        size_t count = 0;
#endif
    };

    void ReadModules()
    {
        HMODULE handles[512];
        DWORD needed = 0;
        if (!EnumProcessModules(GetCurrentProcess(), handles, sizeof handles, &needed))
            return;
        for (DWORD i = 0; i < std::min<DWORD>(needed / sizeof(HMODULE), 512); ++i) {
            auto base = reinterpret_cast<BYTE*>(handles[i]);
            auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
            auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
            Module module;
            module.base = reinterpret_cast<DWORD64>(base);
            module.end = module.base + nt->OptionalHeader.SizeOfImage;
            char path[MAX_PATH] = {};
            GetModuleFileNameA(handles[i], path, MAX_PATH);
            std::string full = path;
            module.name = full.substr(full.find_last_of("\\/") + 1);
#if defined(_M_X64) || defined(__x86_64__)
            const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
            module.functions = reinterpret_cast<const RUNTIME_FUNCTION*>(base + table.VirtualAddress);
            module.count = table.VirtualAddress ? table.Size / sizeof(RUNTIME_FUNCTION) : 0;
#endif
            modules_.push_back(module);
        }
        std::sort(modules_.begin(), modules_.end(), [](const Module& a, const Module& b) { return a.base < b.base; });
    }

    const Module* ModuleOf(DWORD64 address) const
    {
        auto it = std::upper_bound(modules_.begin(), modules_.end(), address,
                                   [](DWORD64 a, const Module& m) { return a < m.base; });
        if (it == modules_.begin())
            return nullptr;
        --it;
        return address < it->end ? &*it : nullptr;
    }

#if defined(_M_X64) || defined(__x86_64__)
    const RUNTIME_FUNCTION* FunctionOf(const Module& module, DWORD64 address) const
    {
        DWORD rva = static_cast<DWORD>(address - module.base);
        size_t low = 0, high = module.count;
        while (low < high) {
            size_t middle = (low + high) / 2;
            const RUNTIME_FUNCTION& f = module.functions[middle];
            if (rva < f.BeginAddress)
                high = middle;
            else if (rva >= f.EndAddress)
                low = middle + 1;
            else
                return &f;
        }
        return nullptr;
    }
#endif

    std::string Name(DWORD64 address) const
    {
        char text[128];
        if (const Module* module = ModuleOf(address))
            std::snprintf(text, sizeof text, "%s+0x%llx", module->name.c_str(),
                          static_cast<unsigned long long>(address - module->base));
        else
            std::snprintf(text, sizeof text, "?+0x%llx", static_cast<unsigned long long>(address));
        return text;
    }

    // The walk itself: no allocation, no lock.
#if defined(_M_X64) || defined(__x86_64__)
    int Walk(CONTEXT& context, DWORD64* frames, int most) const
    {
        int n = 0;
        while (n < most && context.Rip) {
            frames[n++] = context.Rip;
            const Module* module = ModuleOf(context.Rip);
            const RUNTIME_FUNCTION* function = module ? FunctionOf(*module, context.Rip) : nullptr;
            if (!function) {
                // A leaf function: the return address is on top of the stack.
                if (!context.Rsp)
                    break;
                context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
                context.Rsp += 8;
                continue;
            }
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, module->base, context.Rip, const_cast<RUNTIME_FUNCTION*>(function),
                             &context, &handlerData, &establisher, nullptr);
        }
        return n;
    }

#else
    // 32-bit code keeps no unwind tables: the instruction pointer, then the chain of saved frame pointers for as
    // long as it stays inside the stack's committed region (code built without frame pointers ends it early).
    int Walk(CONTEXT& context, DWORD64* frames, int most) const
    {
        int n = 0;
        frames[n++] = context.Eip;
        MEMORY_BASIC_INFORMATION stack{};
        if (!VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(context.Esp)), &stack, sizeof stack))
            return n;
        const uintptr_t low = context.Esp;
        const uintptr_t high = reinterpret_cast<uintptr_t>(stack.BaseAddress) + stack.RegionSize;
        uintptr_t frame = context.Ebp;
        while (n < most && frame >= low && frame + 8 <= high && frame % 4 == 0) {
            const auto* slots = reinterpret_cast<const DWORD*>(frame);
            if (!slots[1] || !ModuleOf(slots[1]))
                break;
            frames[n++] = slots[1];
            if (slots[0] <= frame)
                break;
            frame = slots[0];
        }
        return n;
    }
#endif

    void Run()
    {
        constexpr int kMostFrames = 96;
        DWORD64 frames[kMostFrames];
        while (!stop_) {
            Sleep(1);
            if (SuspendThread(thread_) == static_cast<DWORD>(-1))
                break;
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_FULL;
            int n = 0;
            if (GetThreadContext(thread_, &context))
                n = Walk(context, frames, kMostFrames);
            ResumeThread(thread_);
            if (n > 0) {
                auto it = stacks_.try_emplace(std::vector<DWORD64>(frames, frames + n), 0).first;
                ++it->second;
                ++samples_;
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                ring_[ringNext_++ % kRing] = {now.QuadPart, &it->first};
                FoldSpans(now.QuadPart);
            }
        }
    }

    // Spans that have ended (with a little margin) take their samples from the ring.
    void FoldSpans(LONGLONG now)
    {
        std::vector<std::pair<LONGLONG, LONGLONG>> ready;
        {
            std::lock_guard<std::mutex> lock(spansMutex_);
            LARGE_INTEGER frequency;
            QueryPerformanceFrequency(&frequency);
            LONGLONG margin = frequency.QuadPart / 100;
            auto end = std::partition(spans_.begin(), spans_.end(),
                                      [&](const auto& span) { return span.second + margin > now; });
            ready.assign(end, spans_.end());
            spans_.erase(end, spans_.end());
        }
        for (const auto& [from, to] : ready) {
            for (size_t i = 0; i < std::min(ringNext_, kRing); ++i) {
                const TRingEntry& entry = ring_[i];
                if (entry.Time >= from && entry.Time <= to) {
                    ++slow_[*entry.Stack];
                    ++slowSamples_;
                }
            }
        }
    }

    std::vector<Module> modules_;

    HANDLE thread_ = nullptr;
    std::thread sampler_;
    std::atomic<bool> stop_{false};
    struct TRingEntry {
        LONGLONG Time = 0;
        const std::vector<DWORD64>* Stack = nullptr;
    };
    static constexpr size_t kRing = 8192;
    TStacks stacks_;
    TStacks slow_;
    std::vector<TRingEntry> ring_ = std::vector<TRingEntry>(kRing);
    size_t ringNext_ = 0;
    std::mutex spansMutex_;
    std::vector<std::pair<LONGLONG, LONGLONG>> spans_;
    int samples_ = 0;
    int slowSamples_ = 0;
};
