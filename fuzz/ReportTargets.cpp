// Target 3: the report writer's line formatters and thread-name copy with what a crashed
// process may hold: paths and symbol names of every length up to 64 KB, texts that end
// right in front of an unreadable page, and thread-name pointers that point nowhere.
#include "fuzz/Fuzz.h"

#include "crash/CrashReport.h"
#include "crash/StackWalk.h"

#include <string.h>

namespace
{
const size_t kPage = 4096;
const size_t kLongest = 64 * 1024;
const size_t kCanary = 64;
const unsigned char kCanaryByte = 0xA5;

// Readable pages followed by one that is not (no access, or a guard page): a text placed
// to end right in front of it shows every read past its end as a fault.
class CGuardedPages
{
public:
    CGuardedPages(size_t readable, DWORD guard) : m_Readable(readable), m_Guard(guard)
    {
        m_pBase = static_cast<char *>(
            VirtualAlloc(NULL, readable + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (m_pBase && !VirtualProtect(End(), kPage, guard, &old))
        {
            VirtualFree(m_pBase, 0, MEM_RELEASE);
            m_pBase = NULL;
        }
    }
    ~CGuardedPages()
    {
        if (m_pBase)
            VirtualFree(m_pBase, 0, MEM_RELEASE);
    }
    CGuardedPages(const CGuardedPages &) = delete;
    CGuardedPages &operator=(const CGuardedPages &) = delete;

    bool Valid() const { return m_pBase != NULL; }
    char *End() const { return m_pBase + m_Readable; }
    // A read of a guard page clears its guard; the page must still be what it was.
    bool Intact() const
    {
        MEMORY_BASIC_INFORMATION info;
        return VirtualQuery(End(), &info, sizeof(info)) == sizeof(info) && info.Protect == m_Guard;
    }
    // Copies bytes so that they end right in front of the unreadable page.
    char *Place(const void *bytes, size_t size) const
    {
        char *at = End() - size;
        memcpy(at, bytes, size);
        return at;
    }

private:
    char *m_pBase;
    size_t m_Readable;
    DWORD m_Guard;
};

// The longest prefix of whole characters within limit bytes.
std::string CharacterPrefix(const std::string &t, size_t limit)
{
    size_t end = 0;
    while (end < t.size() && NextCharIndex(t, end) <= limit)
        end = NextCharIndex(t, end);
    return t.substr(0, end);
}

// Bytes of a name or path: mostly plain, with double-byte lead bytes, "%" and controls.
std::string Text(CFuzzRandom &random, size_t length)
{
    static const char special[] = {'%', '\\', '"', '\r', '\n', '\t', static_cast<char>(0x81),
                                   static_cast<char>(0xE0), static_cast<char>(0xFC),
                                   static_cast<char>(0x80), static_cast<char>(0xFF)};
    std::string text(length, 'a');
    UINT32 mode = random.Below(3);
    for (char &byte : text)
    {
        if (mode == 0)
            byte = static_cast<char>(1 + random.Below(255));
        else if (mode == 1 || random.OneIn(8))
            byte = random.OneIn(3) ? random.Pick(special) : static_cast<char>('A' + random.Below(26));
        else
            byte = static_cast<char>('a' + random.Below(26));
    }
    return text;
}

// Lengths of every size up to 64 KB, with the buffer sizes around the line buffer's.
size_t TextLength(CFuzzRandom &random)
{
    switch (random.Below(4))
    {
    case 0:
        return random.Below(kLongest + 1);
    case 1:
        return REPORT_LINE_BUFFER - 40 + random.Below(80);
    default:
        return random.Length(300);
    }
}

size_t BufferSize(CFuzzRandom &random)
{
    switch (random.Below(6))
    {
    case 0:
        return random.Below(40);
    case 1:
        return random.Below(2 * REPORT_LINE_BUFFER);
    case 2:
        return 2 * kLongest + 1024; // room for every line whole
    default:
        return REPORT_LINE_BUFFER;
    }
}

std::wstring WideText(CFuzzRandom &random, size_t length)
{
    static const wchar_t special[] = {0x00E9, 0x20AC, 0x3042, 0x65E5, 0xD800, 0xDC00,
                                      0xFFFF, 0x0080, 0x00A0, L'%',   L'\\'};
    std::wstring text(length, L'a');
    bool plain = random.OneIn(3);
    for (wchar_t &unit : text)
        unit = plain || !random.OneIn(4) ? static_cast<wchar_t>('a' + random.Below(26))
                                         : random.Pick(special);
    return text;
}

std::string Hex(UINT64 value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%I64X", value);
    return text;
}

class CReportLineTarget : public CFuzzTarget
{
public:
    CReportLineTarget()
        : m_NoAccess(kLongest + 2 * kPage, PAGE_NOACCESS),
          m_Guard(kLongest + 2 * kPage, PAGE_READWRITE | PAGE_GUARD),
          m_pReserved(static_cast<char *>(VirtualAlloc(NULL, kPage, MEM_RESERVE, PAGE_NOACCESS)))
    {
    }
    ~CReportLineTarget() override
    {
        if (m_pReserved)
            VirtualFree(m_pReserved, 0, MEM_RELEASE);
    }

    const char *Name() const override { return "report"; }

    int Prepare(std::string &failure) override
    {
        if (!m_NoAccess.Valid() || !m_Guard.Valid() || !m_pReserved)
        {
            failure = "cannot set up the guarded pages";
            return 0;
        }
        return 1;
    }

    int Run(CFuzzRandom &random, SFuzzCase &fuzzCase) override
    {
        bool noAccess = random.OneIn(2);
        const CGuardedPages &pages = noAccess ? m_NoAccess : m_Guard;
        const CGuardedPages &others = noAccess ? m_Guard : m_NoAccess;
        std::string failure;
        switch (random.Below(4))
        {
        case 0:
            failure = ModuleLine(random, pages, fuzzCase);
            break;
        case 1:
            failure = ThreadLine(random, pages, fuzzCase);
            break;
        case 2:
            failure = FrameLine(random, pages, others, fuzzCase);
            break;
        default:
            failure = ThreadName(random, pages, fuzzCase);
            break;
        }
        if (failure.empty() && !(pages.Intact() && others.Intact()))
            failure = "the unreadable page behind the text was touched";
        fuzzCase.failure = failure;
        return failure.empty();
    }

private:
    // The buffer of one line with a canary behind it.
    char *LineBuffer(size_t size)
    {
        m_Line.assign(size + kCanary, static_cast<char>(kCanaryByte));
        return &m_Line[0];
    }

    // What every line must be: within its buffer, terminated, its length returned, ending
    // in "\r\n" when the buffer has room for one, cut only at a character boundary.
    std::string CheckLine(size_t size, int length, const std::string &whole)
    {
        const char *line = m_Line.data();
        for (size_t i = size; i < m_Line.size(); i++)
            if (static_cast<unsigned char>(line[i]) != kCanaryByte)
                return "wrote past its buffer of " + std::to_string(size) + " bytes";
        if (size == 0)
            return length == 0 ? "" : "a length for an empty buffer";
        size_t actual = strnlen(line, size);
        if (actual == size)
            return "no terminator in the buffer";
        if (length < 0 || static_cast<size_t>(length) != actual)
            return "length " + std::to_string(length) + " for a line of " + std::to_string(actual);
        std::string text(line, actual);
        if (size < 3)
            return "";
        if (actual < 2 || text.compare(actual - 2, 2, "\r\n") != 0)
            return "line does not end in \"\\r\\n\": " + ShowBytes(text.substr(0, 200));
        std::string body = text.substr(0, actual - 2);
        if (whole.size() < size)
        {
            if (text != whole)
                return "whole line " + ShowBytes(text.substr(0, 300)) + ", expected " +
                       ShowBytes(whole.substr(0, 300));
        }
        else if (body != CharacterPrefix(whole.substr(0, whole.size() - 2), size - 3))
            return "cut line is no whole-character prefix of the line: " +
                   ShowBytes(body.substr(body.size() > 40 ? body.size() - 40 : 0));
        return "";
    }

    static void Describe(SFuzzCase &fuzzCase, const std::string &what, size_t size)
    {
        fuzzCase.detail = what + ", buffer " + std::to_string(size) + " bytes";
    }

    std::string ModuleLine(CFuzzRandom &random, const CGuardedPages &pages, SFuzzCase &fuzzCase)
    {
        CModuleRecord module;
        memset(&module, 0, sizeof(module));
        module.base = random.Next();
        module.size = static_cast<UINT32>(random.Next());
        module.checksum = static_cast<UINT32>(random.Next());
        module.timeStamp = static_cast<UINT32>(random.Next());
        module.version.dwFileVersionMS = static_cast<DWORD>(random.Next());
        module.version.dwFileVersionLS = static_cast<DWORD>(random.Next());
        module.version.dwProductVersionMS = static_cast<DWORD>(random.Next());
        module.version.dwProductVersionLS = static_cast<DWORD>(random.Next());
        std::wstring path = WideText(random, TextLength(random) / 2);
        if (!random.OneIn(16))
            module.path = reinterpret_cast<wchar_t *>(
                pages.Place(path.c_str(), (path.size() + 1) * sizeof(wchar_t)));
        else
            path.clear();
        size_t size = BufferSize(random);
        fuzzCase.input = std::string(reinterpret_cast<const char *>(path.data()),
                                     path.size() * sizeof(wchar_t));
        Describe(fuzzCase, "module path (UTF-16) " + std::to_string(path.size()) +
                               " units, base " + Hex(module.base) + ", time stamp " +
                               std::to_string(module.timeStamp), size);
        int length = FormatModuleLine(LineBuffer(size), size, module);
        // The fixed fields are not restated here; the path must come out whole, in the
        // ANSI code page.
        std::string narrow;
        int bytes = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, NULL, 0, NULL, NULL);
        narrow.resize(bytes > 0 ? bytes : 1);
        WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, &narrow[0], bytes, NULL, NULL);
        narrow.resize(strlen(narrow.c_str()));
        std::string line(m_Line.data(), strnlen(m_Line.data(), size));
        std::string whole = WholeModuleLine(line, narrow);
        return CheckLine(size, length, whole);
    }

    // The whole line as the fixed fields of the written one (up to " - ") and the path.
    static std::string WholeModuleLine(const std::string &line, const std::string &path)
    {
        size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            return line; // cut before the path: only the cut is checked
        return line.substr(0, dash + 3) + path + "\r\n";
    }

    std::string ThreadLine(CFuzzRandom &random, const CGuardedPages &pages, SFuzzCase &fuzzCase)
    {
        CThreadRecord thread;
        memset(&thread, 0, sizeof(thread));
        thread.id = static_cast<UINT32>(random.Next());
        thread.stackBase = random.Next();
        thread.stackEnd = random.Next();
        thread.startAddress = static_cast<ULONG_PTR>(random.Next());
        std::string name = Text(random, random.Below(THREAD_NAME_BUFFER));
        memcpy(thread.name, name.c_str(), name.size() + 1);
        std::string symbol = Text(random, TextLength(random));
        bool noSymbol = random.OneIn(16);
        int isNt = random.Below(2);
        size_t size = BufferSize(random);
        fuzzCase.input = symbol;
        Describe(fuzzCase, "thread symbol; name " + ShowBytes(name) +
                               (isNt ? ", NT" : ", not NT") + (noSymbol ? ", no symbol" : ""),
                 size);
        const char *placed = noSymbol ? NULL : pages.Place(symbol.c_str(), symbol.size() + 1);
        int length = FormatThreadLine(LineBuffer(size), size, thread, placed, isNt);
        std::string line(m_Line.data(), strnlen(m_Line.data(), size));
        // The fixed fields end at the third space-separated address; what follows is
        // the symbol and the name.
        std::string tail = " " + (noSymbol ? std::string() : symbol) + " " + name + "\r\n";
        std::string fixed = FixedThreadFields(thread, isNt);
        return CheckLine(size, length, fixed + tail);
    }

    static std::string FixedThreadFields(const CThreadRecord &thread, int isNt)
    {
        char fields[128];
        snprintf(fields, sizeof(fields),
                 isNt ? "%-8u   0x%08I64X 0x%08I64X " REPORT_ADDRESS
                      : "0x%08X 0x%08I64X 0x%08I64X " REPORT_ADDRESS,
                 static_cast<unsigned>(thread.id), static_cast<unsigned long long>(thread.stackBase),
                 static_cast<unsigned long long>(thread.stackEnd),
                 static_cast<ReportAddress>(thread.startAddress));
        return fields;
    }

    std::string FrameLine(CFuzzRandom &random, const CGuardedPages &pages,
                          const CGuardedPages &others, SFuzzCase &fuzzCase)
    {
        std::string symbol = Text(random, TextLength(random));
        std::string module = random.OneIn(3) ? "" : Text(random, TextLength(random));
        std::string file = Text(random, TextLength(random));
        DWORD64 params[4];
        for (DWORD64 &param : params)
            param = random.OneIn(2) ? random.Next() : random.Below(16);
        IMAGEHLP_LINE64 line;
        memset(&line, 0, sizeof(line));
        line.SizeOfStruct = sizeof(line);
        line.LineNumber = static_cast<DWORD>(random.Next());
        bool withLine = random.OneIn(2);
        size_t size = BufferSize(random);
        // The symbol and the module end in front of unreadable pages, the file name lies
        // on the heap.
        fuzzCase.input = symbol;
        Describe(fuzzCase, "frame symbol; module of " + std::to_string(module.size()) +
                               " bytes, file of " + std::to_string(file.size()) + " bytes" +
                               (withLine ? ", with line" : ""),
                 size);
        const char *placedSymbol = pages.Place(symbol.c_str(), symbol.size() + 1);
        line.FileName = const_cast<char *>(file.c_str());
        const char *placedModule = others.Place(module.c_str(), module.size() + 1);
        int length = FormatFrameLine(LineBuffer(size), size, placedSymbol, params, placedModule,
                                     withLine ? &line : NULL);
        std::string values = "(" + Hex(params[0]) + "," + Hex(params[1]) + "," + Hex(params[2]) +
                             "," + Hex(params[3]) + ")";
        std::string whole;
        if (withLine)
            whole = symbol + values + " - Line " + std::to_string(line.LineNumber) + " in " + file;
        else if (!module.empty())
            whole = module + ":" + symbol + values;
        else
            whole = symbol + values;
        return CheckLine(size, length, whole + "\r\n");
    }

    // A name pointer as a crashed thread may leave it: readable bytes running into an
    // unreadable page without a terminator, or an address where nothing can be read.
    std::string ThreadName(CFuzzRandom &random, const CGuardedPages &pages, SFuzzCase &fuzzCase)
    {
        const char *source = NULL;
        std::string readable; // what lies at source before a terminator or the end
        UINT32 kind = random.Below(8);
        if (kind < 4)
        {
            std::string bytes = Text(random, random.Below(kind == 0 ? 3 * kPage : 240));
            source = pages.Place(bytes.data(), bytes.size());
            readable = bytes.substr(0, strnlen(bytes.c_str(), bytes.size()));
            fuzzCase.input = bytes;
        }
        else
        {
            const ULONG_PTR nowhere[] = {
                0, 1, 0xFFF, reinterpret_cast<ULONG_PTR>(m_pReserved),
                reinterpret_cast<ULONG_PTR>(m_pReserved) + 2000,
                reinterpret_cast<ULONG_PTR>(pages.End()),
                reinterpret_cast<ULONG_PTR>(pages.End()) + 100, ~static_cast<ULONG_PTR>(0),
                ~static_cast<ULONG_PTR>(0) - 99,
#ifdef _WIN64
                0x8000000000000000ULL, 0xFFFF800000000000ULL,
#else
                0xC0000000u,
#endif
            };
            source = reinterpret_cast<const char *>(random.Pick(nowhere));
            fuzzCase.input.clear();
        }
        fuzzCase.detail = "thread name at " + Hex(reinterpret_cast<ULONG_PTR>(source));
        char name[THREAD_NAME_BUFFER + kCanary];
        memset(name, kCanaryByte, sizeof(name));
        CopyThreadName(name, source);
        for (size_t i = THREAD_NAME_BUFFER; i < sizeof(name); i++)
            if (static_cast<unsigned char>(name[i]) != kCanaryByte)
                return "thread name written past its 100 bytes";
        if (strnlen(name, THREAD_NAME_BUFFER) == THREAD_NAME_BUFFER)
            return "thread name without a terminator";
        std::string expected = CharacterPrefix(readable, THREAD_NAME_BUFFER - 1);
        if (expected != name)
            return "thread name " + ShowBytes(name) + ", expected " + ShowBytes(expected);
        return "";
    }

    CGuardedPages m_NoAccess;
    CGuardedPages m_Guard;
    char *m_pReserved;
    std::string m_Line;
};
} // namespace

std::unique_ptr<CFuzzTarget> NewReportLineTarget()
{
    return std::unique_ptr<CFuzzTarget>(new CReportLineTarget());
}
