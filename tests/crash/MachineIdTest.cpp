#include <shlwapi.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "crash/MachineId.h"

using namespace std::string_literals;

namespace
{

struct CValue { std::string key; const char *name; DWORD type; std::string data; };

// Values planted in a scratch key that stands in for this process's local-machine root.
struct CPlantedMachine
{
    explicit CPlantedMachine(const std::vector<CValue> &values)
    {
        // What a run that was killed halfway left behind
        SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\BrennlowTest\\MachineId");
        RegCreateKeyA(HKEY_CURRENT_USER, "Software\\BrennlowTest\\MachineId", &root);
        for (const CValue &value : values)
        {
            HKEY key = NULL;
            RegCreateKeyA(root, value.key.c_str(), &key);
            std::string data = value.data + (value.type == REG_SZ ? "\0"s : ""s);
            if (value.name)
                RegSetValueExA(key, value.name, 0, value.type, reinterpret_cast<const BYTE *>(data.data()),
                               static_cast<DWORD>(data.size()));
            RegCloseKey(key);
        }
        overridden = RegOverridePredefKey(HKEY_LOCAL_MACHINE, root) == ERROR_SUCCESS;
    }
    ~CPlantedMachine()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
        RegCloseKey(root);
        SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\BrennlowTest\\MachineId");
    }
    HKEY root = NULL;
    bool overridden = false;
};

const char *const kNtVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char *const kMacKey = "SOFTWARE\\Microsoft\\Windows Genuine Advantage";
const char *const kRpcKey = "SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
const char *const kDiskKey = "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
std::string Unit(int bus, int target)
{
    return "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus " + std::to_string(bus) + "\\Target Id " +
           std::to_string(target) + "\\Logical Unit Id 0";
}

std::string Dword(DWORD value) { return std::string(reinterpret_cast<char *>(&value), 4); }
BYTE Xor(const std::string &text) { return XorBytes(text.data(), text.size()); }

// What the system's version record gives: minor version high, major version low.
BYTE VersionRecordByte()
{
    DWORD version = GetVersion();
    return static_cast<BYTE>((HIBYTE(LOWORD(version)) << 4) | (LOBYTE(version) & 0xF));
}

// A management service that does not answer a connection for a minute, registered for
// the process's multithreaded apartment while this object lives.
struct CHungService : IWbemLocator, IClassFactory
{
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        *out = static_cast<IWbemLocator *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR, const BSTR, const BSTR, const BSTR, LONG,
                                            const BSTR, IWbemContext *, IWbemServices **) override
    {
        WaitForSingleObject(answer, 60000);
        return WBEM_E_FAILED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID, void **out) override
    {
        return QueryInterface(IID_IUnknown, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    void Register()
    {
        const GUID locatorClass = {0x4590F811, 0x1D3A, 0x11D0,
                                   {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
        DWORD cookie = 0;
        registered = SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED)) &&
                     SUCCEEDED(CoRegisterClassObject(locatorClass, static_cast<IClassFactory *>(this),
                                                     CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
        SetEvent(ready);
        WaitForSingleObject(answer, INFINITE);
        CoRevokeClassObject(cookie);
        CoUninitialize();
    }
    CHungService() { WaitForSingleObject(ready, 10000); }
    virtual ~CHungService()
    {
        SetEvent(answer);
        thread.join();
        CloseHandle(ready);
        CloseHandle(answer);
    }
    HANDLE answer = CreateEventA(NULL, TRUE, FALSE, NULL), ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    volatile bool registered = false;
    std::thread thread{[this] { Register(); }};
};

} // namespace

TEST(MachineId, Reductions)
{
    BYTE record[MACHINE_ID_BYTES] = {0x10, 0, 0, 0, 0, 0, 2, 0};
    record[7] = MachineIdCheckByte(record);
    CStr text;
    ASSERT_EQ(1, FormatMachineId(text, record));
    EXPECT_STREQ("0010-0000-0000-ED02", text.GetText());

    BYTE value = 0;
    EXPECT_TRUE(VersionByteFromText("10.0", &value));
    EXPECT_EQ(0x0A, value);
    EXPECT_EQ(0, VersionByteFromText("6", &value));
}

// Each source read from planted registry values: the first row plants every source
// the identifier prefers, the second leaves them out so that the fallbacks answer.
TEST(MachineId, SourcesAndFallbacks)
{
    const std::string mac = "00-1A-2B-3C-4D-5E";
    const std::string raw = "\x11\x22\x33\x44\x55\x66";
    struct Case { std::vector<CValue> values; BYTE version, product, network, disk; } cases[] = {
        {{{kNtVersion, "CurrentVersion", REG_SZ, "6.3"},
          {kNtVersion, "ProductId", REG_SZ, "ddd"}, // 300 modulo 256
          {kMacKey, "MAC", REG_SZ, mac}, {kRpcKey, "NetworkAddress", REG_BINARY, raw},
          {kDiskKey, "Count", REG_DWORD, Dword(0)}, {kDiskKey, "0", REG_SZ, "unused"},
          {Unit(0, 0), "Identifier", REG_SZ, "AB"}, {Unit(0, 1), NULL, 0, ""},
          {Unit(0, 3), "Identifier", REG_SZ, "skipped"}, {Unit(1, 0), "Identifier", REG_SZ, "C"}},
         0x36, 44, Xor(mac), 198},
        {{{kNtVersion, "CurrentVersion", REG_SZ, "six"},
          {kMacKey, "MAC", REG_SZ, ""}, {kRpcKey, "NetworkAddress", REG_BINARY, raw},
          {kDiskKey, "Count", REG_DWORD, Dword(3)}, {kDiskKey, "0", REG_SZ, "AB"},
          {kDiskKey, "2", REG_SZ, "C"}},
         VersionRecordByte(), 0, 0, 198},
        // An empty address text still ends the search.
        {{{kRpcKey, "NetworkAddress", REG_BINARY, raw}, {kDiskKey, "Count", REG_DWORD, Dword(0)}},
         VersionRecordByte(), 0, Xor(raw), 0},
    };
    for (const Case &c : cases)
    {
        CPlantedMachine machine(c.values);
        ASSERT_TRUE(machine.overridden);
        CMachineId id;
        BYTE record[MACHINE_ID_BYTES];
        BYTE check = id.Build(record, 2);
        std::vector<BYTE> expected = {0x10, c.product, c.version, record[3], c.network, c.disk, 2, check};
        EXPECT_EQ(expected, std::vector<BYTE>(record, record + MACHINE_ID_BYTES));
        EXPECT_EQ(MachineIdCheckByte(record), check);
    }
}

// Without an address in the registry the network byte comes from the management service.
TEST(MachineId, RealSystem)
{
    CMachineId id;
    CWmiQuery query;
    CStr mac;
    ASSERT_EQ(1, query.Connect(L"ROOT\\CIMV2"));
    ASSERT_EQ(1, query.Query("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true"));
    if (query.First() && query.First()->Get(L"MACAddress", &mac, NULL, 0))
    {
        BYTE record[MACHINE_ID_BYTES];
        id.Build(record, 2);
        EXPECT_EQ(XorBytes(mac.GetText(), mac.GetLength()), record[4]) << mac.GetText();
    }
}

// A management service that hangs costs the identifier seconds, not its report: the network
// byte comes from the next source.
TEST(MachineId, HungServiceIsLeftBehind)
{
    CPlantedMachine machine({{kNtVersion, "ProductId", REG_SZ, "ddd"}});
    CHungService hung;
    ASSERT_TRUE(hung.registered);
    DWORD start = GetTickCount();
    CMachineId id;
    BYTE record[MACHINE_ID_BYTES];
    id.Build(record, 2);
    EXPECT_LT(GetTickCount() - start, WMI_TIME_LIMIT_MS + 5000u);
    EXPECT_EQ(Xor("ddd"), record[4]);
}
