// vek-driver: drives a running vek-sample.exe from outside with the window messages an
// automation tool uses, and stops at the first check that fails.
//
//   vek-driver [-f script] [line ...]
//
// Each line is one command, its words separated by blanks; "double quotes" keep blanks inside a
// word. Blank lines and lines starting with # are skipped. NAME is a control of the layout table
// (Address_0, TX1, Rx_data...), MS a time limit in milliseconds.
//
//   env NAME VALUE            set an environment variable for the programs started after;
//                             %OTHER% in VALUE stands for the driver's own variable OTHER
//   start EXE [MS]            start the program and wait for its window
//   attach                    take the program's window that is open already
//   set NAME TEXT             WM_SETTEXT
//   click NAME                BM_CLICK; returns once the button is greyed out or its click
//                             handler has returned (a click that only queues a command)
//   wait-enabled NAME MS      until the button is enabled
//   wait-idle MS              until every click so far has returned (its command and the one
//                             it queued have ended) and both buttons are enabled
//   expect-enabled NAME       expect-disabled NAME
//   expect-text NAME TEXT     WM_GETTEXT gives exactly TEXT
//   expect-tip NAME TEXT      the tooltip of NAME contains TEXT
//   expect-reply N FIRST LAST MS  the result's tooltip says "Reply N bytes, from X to Y ms"
//                             with X and Y within MS of FIRST and LAST; prints X and Y
//   expect-queued NAME        the last click of NAME returned while an earlier click's command
//                             still ran: the program took it during that command's wait
//   rects                     the client area and every control's rectangle at 96 dpi
//   close MS                  WM_CLOSE; the program must have ended within MS
//   sleep MS
//   where                     print the window's place on the screen: x y width height
//   bench N                   N writes of 41001, each read back; prints how long they took
//
// A program still running at the end is left so (wine_session.sh ends it with its prefix), unless a
// line failed. Exit status: 0 when every line passed, 1 at the first failing line (printed with
// the reason), 2 for a script it cannot run.
#include "panel/layout.h"
#include "win32_ids.h"
#include "win32_text.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kMessageLimitMs = 5000;

// A check that failed: the line and why.
struct Failure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};
// A line that cannot be run at all.
struct ScriptError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

double Now()
{
    static const double perSecond = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart / perSecond;
}

// Sleep() counts whole milliseconds; the polls here want a finer step.
void Nap(double seconds)
{
    using Delay = LONG(WINAPI*)(BOOLEAN, PLARGE_INTEGER);
    static const auto delay = reinterpret_cast<Delay>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDelayExecution")));
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(seconds * 1e7); // relative, 100 ns units
    if (delay)
        delay(FALSE, &interval);
    else
        Sleep(static_cast<DWORD>(seconds * 1000) + 1);
}

std::string Quoted(const std::string& s)
{
    return "\"" + s + "\"";
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i == line.size())
            return words;
        if (line[i] == '"') {
            const std::size_t end = line.find('"', i + 1);
            if (end == std::string::npos)
                throw ScriptError("unclosed quote");
            words.push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t\r", i);
            words.push_back(line.substr(i, end == std::string::npos ? end : end - i));
            i = end == std::string::npos ? line.size() : end;
        }
    }
}

int Number(const std::string& word)
{
    char* end = nullptr;
    const long n = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || n < 0)
        throw ScriptError("not a count: " + Quoted(word));
    return static_cast<int>(n);
}

// The click of one button, sent from a thread of its own: the program runs the whole command
// inside the click, so SendMessage returns only when the command (and a queued one) has ended.
struct Click
{
    HWND button = nullptr;
    std::atomic<bool> returned{false};
    std::atomic<double> sentAt{0}, returnedAt{0};
};

class Driver
{
public:
    ~Driver()
    {
        if (m_process)
            CloseHandle(m_process);
    }

    // Ends a program left running after a failure, so that it does not outlive the script.
    void Abandon()
    {
        if (m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process, 1);
    }

    void Run(const std::vector<std::string>& w)
    {
        const std::string& verb = w[0];
        const auto need = [&](std::size_t n) {
            if (w.size() != n + 1)
                throw ScriptError(verb + " takes " + std::to_string(n) + " argument(s)");
        };
        if (verb == "env") {
            need(2);
            // %NAME% stands for a variable of the driver's own, such as the session's addresses.
            wchar_t value[4096];
            if (!ExpandEnvironmentStringsW(Wide(w[2]).c_str(), value, std::size(value)))
                throw ScriptError("env: cannot expand " + w[2]);
            SetEnvironmentVariableW(Wide(w[1]).c_str(), value);
        } else if (verb == "start") {
            if (w.size() != 2 && w.size() != 3)
                throw ScriptError("start EXE [MS]");
            Start(w[1], w.size() == 3 ? Number(w[2]) : 20000);
        } else if (verb == "attach") {
            need(0);
            Attach();
        } else if (verb == "set") {
            need(2);
            DWORD_PTR r = 0;
            const std::wstring text = Wide(w[2]);
            if (!SendMessageTimeoutW(Control(w[1]), WM_SETTEXT, 0,
                                     reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                                     kMessageLimitMs, &r))
                throw Failure("WM_SETTEXT was not answered");
        } else if (verb == "click") {
            need(1);
            ClickAndWaitTaken(Control(w[1]));
        } else if (verb == "wait-enabled") {
            need(2);
            const HWND button = Control(w[1]);
            if (!Until([&] { return IsWindowEnabled(button) != FALSE; }, Number(w[2])))
                throw Failure("still disabled after " + w[2] + " ms");
        } else if (verb == "wait-idle") {
            need(1);
            const HWND read = Control("TX1"), write = Control("Write_command");
            const auto idle = [&] {
                for (const auto& click : m_clicks)
                    if (!click->returned)
                        return false;
                return IsWindowEnabled(read) && IsWindowEnabled(write);
            };
            if (!Until(idle, Number(w[1])))
                throw Failure("a command still runs after " + w[1] + " ms");
            m_clicks.clear();
        } else if (verb == "expect-enabled" || verb == "expect-disabled") {
            need(1);
            const bool enabled = IsWindowEnabled(Control(w[1])) != FALSE;
            if (enabled != (verb == "expect-enabled"))
                throw Failure(enabled ? "enabled" : "disabled");
        } else if (verb == "expect-text") {
            need(2);
            const std::string text = Text(Control(w[1]));
            if (text != w[2])
                throw Failure("text is " + Quoted(text));
        } else if (verb == "expect-tip") {
            need(2);
            const std::string tip = Tip(Control(w[1]));
            if (tip.find(w[2]) == std::string::npos)
                throw Failure("tooltip is " + Quoted(tip));
        } else if (verb == "expect-reply") {
            need(4);
            ExpectReply(Number(w[1]), Number(w[2]), Number(w[3]), Number(w[4]));
        } else if (verb == "expect-queued") {
            need(1);
            ExpectQueued(Control(w[1]));
        } else if (verb == "rects") {
            need(0);
            Rects();
        } else if (verb == "close") {
            need(1);
            Close(Number(w[1]));
        } else if (verb == "sleep") {
            need(1);
            Sleep(Number(w[1]));
        } else if (verb == "where") {
            need(0);
            RECT r{};
            GetWindowRect(Main(), &r);
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        } else if (verb == "bench") {
            need(1);
            Bench(Number(w[1]));
        } else {
            throw ScriptError("unknown command " + Quoted(verb));
        }
    }

private:
    template <typename Check> static bool Until(Check check, int limitMs)
    {
        const double end = Now() + limitMs / 1000.0;
        while (!check()) {
            if (Now() >= end)
                return false;
            Nap(0.0005);
        }
        return true;
    }

    void Start(const std::string& exe, int limitMs)
    {
        if (m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            throw ScriptError("start: the program is still running");
        std::wstring command = L"\"" + Wide(exe) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const double t0 = Now();
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi))
            throw Failure("cannot start " + exe + ": error " + std::to_string(GetLastError()));
        CloseHandle(pi.hThread);
        if (m_process)
            CloseHandle(m_process);
        m_process = pi.hProcess;
        m_pid = pi.dwProcessId;
        m_main = nullptr;
        if (!Until([&] { return (m_main = FindMain()) && IsWindowVisible(m_main); }, limitMs))
            throw Failure("no visible window \"" + std::string(kWindowTitle) + "\" of class " +
                          Narrow(kMainClassName) + " after " + std::to_string(limitMs) + " ms");
        std::printf("  window shown %.1f ms after the start\n", (Now() - t0) * 1000);
    }

    // The window of a program started before, by another driver.
    void Attach()
    {
        const HWND main = FindWindowW(kMainClassName, Wide(kWindowTitle).c_str());
        DWORD pid = 0;
        GetWindowThreadProcessId(main, &pid);
        const HANDLE process =
            main ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_VM_OPERATION |
                                   PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid)
                 : nullptr;
        if (!process)
            throw Failure("no window \"" + std::string(kWindowTitle) + "\" to attach to");
        if (m_process)
            CloseHandle(m_process);
        m_process = process;
        m_pid = pid;
        m_main = main;
    }

    HWND FindMain() const
    {
        struct Search
        {
            DWORD pid;
            HWND found;
        } search{m_pid, nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                wchar_t cls[64] = {}, title[64] = {};
                GetClassNameW(hwnd, cls, 64);
                GetWindowTextW(hwnd, title, 64);
                if (pid == s->pid && std::wstring(cls) == kMainClassName &&
                    Narrow(title) == kWindowTitle) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HWND Main() const
    {
        if (!m_main)
            throw ScriptError("no program started");
        return m_main;
    }

    // The child window of that name, found the way a tool finds it: by its control id, anywhere
    // below the main window.
    HWND Control(const std::string& name) const
    {
        const int index = ControlIndex(name);
        if (index < 0)
            throw ScriptError("no control named " + Quoted(name));
        struct Search
        {
            int id;
            HWND found;
        } search{kFirstControlId + index, nullptr};
        EnumChildWindows(
            Main(),
            [](HWND hwnd, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                if (GetDlgCtrlID(hwnd) != s->id)
                    return TRUE;
                s->found = hwnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            throw Failure("no child window " + name + " (id " + std::to_string(search.id) + ")");
        return search.found;
    }

    static std::string Text(HWND control)
    {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kMessageLimitMs,
                                 &length))
            throw Failure("WM_GETTEXTLENGTH was not answered");
        std::wstring text(length + 1, L'\0');
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(),
                                 reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                                 kMessageLimitMs, &got))
            throw Failure("WM_GETTEXT was not answered");
        text.resize(std::min<std::size_t>(got, length));
        return Narrow(text);
    }

    // The program's memory for one message whose argument points into it: tooltip messages are
    // not carried across processes, so the tool info and the text live over there.
    class Remote
    {
    public:
        Remote(HANDLE process, std::size_t size) : m_process(process)
        {
            m_at = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
            if (!m_at)
                throw Failure("VirtualAllocEx: error " + std::to_string(GetLastError()));
        }
        ~Remote() { VirtualFreeEx(m_process, m_at, 0, MEM_RELEASE); }
        Remote(const Remote&) = delete;
        Remote& operator=(const Remote&) = delete;

        char* At(std::size_t offset) const { return static_cast<char*>(m_at) + offset; }
        void Put(std::size_t offset, const void* data, std::size_t size) const
        {
            if (!WriteProcessMemory(m_process, At(offset), data, size, nullptr))
                throw Failure("WriteProcessMemory: error " + std::to_string(GetLastError()));
        }
        void Get(std::size_t offset, void* data, std::size_t size) const
        {
            if (!ReadProcessMemory(m_process, At(offset), data, size, nullptr))
                throw Failure("ReadProcessMemory: error " + std::to_string(GetLastError()));
        }

    private:
        HANDLE m_process;
        void* m_at;
    };

    // The tooltip text of a control: the tool of the main window's tooltip that stands for it.
    std::string Tip(HWND control) const
    {
        struct Search
        {
            HWND owner;
            HWND found;
        } search{Main(), nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                wchar_t cls[64] = {};
                GetClassNameW(hwnd, cls, 64);
                if (GetWindow(hwnd, GW_OWNER) != s->owner || _wcsicmp(cls, TOOLTIPS_CLASSW) != 0)
                    return TRUE;
                s->found = hwnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            throw Failure("no tooltip window owned by the main window");

        constexpr std::size_t kChars = 8192;
        const Remote remote(m_process, sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t));
        const std::size_t textAt = sizeof(TTTOOLINFOW);
        const auto send = [&](UINT message, WPARAM wParam) {
            DWORD_PTR r = 0;
            if (!SendMessageTimeoutW(search.found, message, wParam,
                                     reinterpret_cast<LPARAM>(remote.At(0)), SMTO_NORMAL,
                                     kMessageLimitMs, &r))
                throw Failure("the tooltip did not answer");
            return r;
        };
        for (WPARAM i = 0;; ++i) {
            TTTOOLINFOW info{};
            info.cbSize = sizeof info;
            remote.Put(0, &info, sizeof info);
            if (!send(TTM_ENUMTOOLSW, i))
                throw Failure("the tooltip has no tool for the control");
            remote.Get(0, &info, sizeof info);
            const bool isControl = (info.uFlags & TTF_IDISHWND)
                                       ? reinterpret_cast<HWND>(info.uId) == control
                                       : info.hwnd == control;
            if (!isControl)
                continue;
            const wchar_t nothing = L'\0';
            remote.Put(textAt, &nothing, sizeof nothing);
            info.lpszText = reinterpret_cast<LPWSTR>(remote.At(textAt));
            remote.Put(0, &info, sizeof info);
            send(TTM_GETTEXTW, kChars);
            std::wstring text(kChars, L'\0');
            remote.Get(textAt, text.data(), kChars * sizeof(wchar_t));
            text.resize(wcsnlen(text.c_str(), kChars));
            return Narrow(text);
        }
    }

    void ExpectReply(int bytes, int first, int last, int tolerance) const
    {
        const std::string tip = Tip(Control("Rx_data"));
        const std::string head = "Reply " + std::to_string(bytes) + " bytes, from ";
        const std::size_t at = tip.find(head);
        double x = 0, y = 0;
        if (at == std::string::npos ||
            std::sscanf(tip.c_str() + at + head.size(), "%lf to %lf ms", &x, &y) != 2)
            throw Failure("tooltip is " + Quoted(tip));
        std::printf("  reply from %.1f to %.1f ms\n", x, y);
        if (std::abs(x - first) > tolerance || std::abs(y - last) > tolerance)
            throw Failure("not within " + std::to_string(tolerance) + " ms");
    }

    // Where the table puts each control at 96 dpi, against where it is, in the main window's
    // client area.
    void Rects() const
    {
        std::string wrong;
        RECT client{};
        GetClientRect(Main(), &client);
        if (client.right != Px(kClientWidth) || client.bottom != Px(kClientHeight))
            wrong += "\n    client area " + std::to_string(client.right) + "x" +
                     std::to_string(client.bottom) + ", not " + std::to_string(Px(kClientWidth)) +
                     "x" + std::to_string(Px(kClientHeight));
        for (const ::Control& c : Layout()) {
            int left = Px(c.left), top = Px(c.top);
            if (c.frame) {
                left += Px(FindControl(c.frame)->left);
                top += Px(FindControl(c.frame)->top);
            }
            int height = Px(c.height);
            if (c.kind == Kind::Line) { // centred on its line
                top -= kLineThickness / 2;
                height = kLineThickness;
            }
            RECT r{};
            GetWindowRect(Control(c.name), &r);
            MapWindowPoints(HWND_DESKTOP, Main(), reinterpret_cast<POINT*>(&r), 2);
            const RECT want{left, top, left + Px(c.width), top + height};
            const auto text = [](const RECT& x) {
                return "(" + std::to_string(x.left) + "," + std::to_string(x.top) + " " +
                       std::to_string(x.right - x.left) + "x" + std::to_string(x.bottom - x.top) +
                       ")";
            };
            // A caption wider than its table width grows to the right rather than clip its text.
            const bool grown = c.kind == Kind::Label && r.left == want.left && r.top == want.top &&
                               r.bottom == want.bottom && r.right > want.right &&
                               r.right <= Px(kClientWidth);
            if (!EqualRect(&r, &want) && !grown)
                wrong += "\n    " + std::string(c.name) + " at " + text(r) + ", not " + text(want);
        }
        if (!wrong.empty())
            throw Failure("controls out of place:" + wrong);
    }

    // Starts the click and returns once the program has taken it.
    std::shared_ptr<Click> ClickAndWaitTaken(HWND button)
    {
        auto click = std::make_shared<Click>();
        click->button = button;
        std::thread([click, button] {
            DWORD_PTR r = 0;
            click->sentAt = Now();
            SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 60000, &r);
            click->returnedAt = Now();
            click->returned = true;
        }).detach();
        m_clicks.push_back(click);
        if (!Until([&] { return click->returned || !IsWindowEnabled(button); }, kMessageLimitMs))
            throw Failure("the click was not taken");
        return click;
    }

    // The button's last click only queued its command: it returned before an earlier click did,
    // which returns only once its command and the queued one have ended. A click taken after the
    // earlier command had ended would run its own command first and return after it.
    void ExpectQueued(HWND button) const
    {
        const auto last = std::find_if(m_clicks.rbegin(), m_clicks.rend(),
                                       [&](const auto& c) { return c->button == button; });
        if (last == m_clicks.rend())
            throw ScriptError("no click of it since the last wait-idle");
        const Click& click = **last; // taken: it has returned, or its command runs
        if (!click.returned ||
            std::none_of(std::next(last), m_clicks.rend(), [&](const auto& earlier) {
                return !earlier->returned || earlier->returnedAt > click.returnedAt;
            }))
            throw Failure("it was clicked when no other command ran");
    }

    void Close(int limitMs)
    {
        const double t0 = Now();
        PostMessageW(Main(), WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_process, limitMs) != WAIT_OBJECT_0)
            throw Failure("still running " + std::to_string(limitMs) + " ms after WM_CLOSE");
        std::printf("  ended %.1f ms after WM_CLOSE\n", (Now() - t0) * 1000);
        m_main = nullptr;
        m_clicks.clear();
    }

    // One command, in seconds from the click to the command's end: the return of the click,
    // taken in the sending thread, which needs no polling of the program (each poll is a call to
    // the wine server, whose CPU time the benchmark counts).
    double Timed(HWND button)
    {
        const auto click = ClickAndWaitTaken(button);
        if (!Until([&] { return click->returned.load(); }, kMessageLimitMs))
            throw Failure("the command did not end");
        if (!IsWindowEnabled(button))
            throw Failure("the command ended with its button disabled");
        m_clicks.clear();
        return click->returnedAt - click->sentAt;
    }

    static void Report(const char* what, std::vector<double> seconds)
    {
        std::sort(seconds.begin(), seconds.end());
        const auto ms = [&](double q) {
            return seconds[std::min(seconds.size() - 1,
                                    static_cast<std::size_t>(q * seconds.size()))] *
                   1000;
        };
        std::printf(
            "  %s: click to its end, min / median / p99 / max: %.2f / %.2f / %.2f / %.2f ms\n",
            what, seconds.front() * 1000, ms(0.5), ms(0.99), seconds.back() * 1000);
    }

    // Writes 1..n into 41001 and reads each back, as an operator would, timing every command.
    void Bench(int n)
    {
        if (n < 1)
            throw ScriptError("bench needs at least one command");
        const HWND read = Control("TX1"), write = Control("Write_command");
        Run({"set", "Address_0", "41001"});
        Run({"set", "Address_1", "41001"});
        std::vector<double> reads, writes;
        for (int i = 1; i <= n; ++i) {
            Run({"set", "Write_data", std::to_string(i)});
            writes.push_back(Timed(write));
            reads.push_back(Timed(read));
            const std::string want = " " + std::to_string(i);
            if (Text(Control("Rx_data")) != want)
                throw Failure("read " + Quoted(Text(Control("Rx_data"))) + " after writing " +
                              std::to_string(i));
        }
        Report("write", writes);
        Report("read", reads);
    }

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    std::vector<std::shared_ptr<Click>> m_clicks; // since the last wait-idle
    HWND m_main = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> lines;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-f" && i + 1 < argc) {
            std::ifstream in(argv[++i]);
            if (!in) {
                std::fprintf(stderr, "vek-driver: cannot read %s\n", argv[i]);
                return 2;
            }
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
        } else {
            lines.push_back(argv[i]);
        }
    }

    Driver driver;
    int status = 0;
    for (std::size_t i = 0; i < lines.size() && status == 0; ++i) {
        try {
            const std::vector<std::string> words = Words(lines[i]);
            if (words.empty() || words[0][0] == '#')
                continue;
            std::printf("%zu: %s\n", i + 1, lines[i].c_str());
            std::fflush(stdout);
            driver.Run(words);
        } catch (const Failure& e) {
            std::printf("FAILED at line %zu: %s\n  %s\n", i + 1, lines[i].c_str(), e.what());
            status = 1;
        } catch (const ScriptError& e) {
            std::printf("BAD SCRIPT at line %zu: %s\n  %s\n", i + 1, lines[i].c_str(), e.what());
            status = 2;
        }
    }
    if (status != 0)
        driver.Abandon();
    std::fflush(stdout);
    return status;
}
