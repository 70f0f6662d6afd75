#include <shlwapi.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "crash/MachineId.h"

namespace
{

struct CValue
{
    std::string key;
    const char *name;
    DWORD type;
    std::string data;
};

// Values planted in a scratch key that stands in for the local-machine root of this
// process while it lives.
class CPlantedMachine
{
public:
    explicit CPlantedMachine(const std::vector<CValue> &values)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_hRoot,
                        NULL);
        for (const CValue &value : values)
        {
            HKEY key = NULL;
            RegCreateKeyExA(m_hRoot, value.key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
            if (value.name)
                RegSetValueExA(key, value.name, 0, value.type,
                               reinterpret_cast<const BYTE *>(value.data.data()),
                               static_cast<DWORD>(value.data.size()));
            RegCloseKey(key);
        }
        m_Overridden = RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_hRoot) == ERROR_SUCCESS;
    }
    ~CPlantedMachine()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
        RegCloseKey(m_hRoot);
        SHDeleteKeyA(HKEY_CURRENT_USER, kScratch);
    }
    bool Overridden() const { return m_Overridden; }

private:
    static constexpr const char *kScratch = "Software\\BrennlowTest\\MachineId";
    HKEY m_hRoot = NULL;
    bool m_Overridden = false;
};

const char *const kNtVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char *const kMacKey = "SOFTWARE\\Microsoft\\Windows Genuine Advantage";
const char *const kRpcKey = "SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
const char *const kDiskKey = "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
const char *const kScsi = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus ";

std::string Sz(const char *text) { return std::string(text) + '\0'; }
std::string Dword(DWORD value) { return std::string(reinterpret_cast<char *>(&value), 4); }
BYTE Xor(const std::string &text) { return XorBytes(text.data(), text.size()); }
BYTE Sum(const std::string &text) { return SumBytes(text.data(), text.size()); }

BYTE VersionRecordByte()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    return static_cast<BYTE>((version.dwMinorVersion << 4) | (version.dwMajorVersion & 0xF));
}

} // namespace

TEST(MachineId, Reductions)
{
    EXPECT_EQ(44, Sum("ddd")); // 300 modulo 256
    EXPECT_EQ(0, Sum(""));
    EXPECT_EQ(0x12 ^ 0x34 ^ 0x56, Xor("\x12\x34\x56"));

    BYTE record[MACHINE_ID_BYTES] = {0x10, 0, 0, 0, 0, 0, 2, 0};
    record[7] = MachineIdCheckByte(record);
    EXPECT_EQ(0xED, record[7]);
    CStr text;
    ASSERT_EQ(1, FormatMachineId(text, record));
    EXPECT_STREQ("0010-0000-0000-ED02", text.GetText());

    struct
    {
        const char *text;
        int parsed;
        BYTE value;
    } versions[] = {{"6.3", 1, 0x36}, {"6.1", 1, 0x16}, {"10.0", 1, 0x0A},
                    {"6", 0, 0},      {"x.3", 0, 0},    {"", 0, 0}};
    for (const auto &v : versions)
    {
        BYTE value = 0;
        EXPECT_EQ(v.parsed, VersionByteFromText(v.text, &value)) << v.text;
        EXPECT_EQ(v.value, value) << v.text;
    }
}

// Each source read from planted registry values: the first row plants every source
// the identifier prefers, the second leaves them out so that the fallbacks answer.
TEST(MachineId, SourcesAndFallbacks)
{
    const std::string mac = "00-1A-2B-3C-4D-5E";
    const std::string raw = "\x11\x22\x33\x44\x55\x66";
    struct Case
    {
        std::vector<CValue> values;
        BYTE version, product, network, disk;
    } cases[] = {
        {{{kNtVersion, "CurrentVersion", REG_SZ, Sz("6.3")},
          {kNtVersion, "ProductId", REG_SZ, Sz("ddd")},
          {kMacKey, "MAC", REG_SZ, Sz(mac.c_str())},
          {kRpcKey, "NetworkAddress", REG_BINARY, raw},
          {kDiskKey, "Count", REG_DWORD, Dword(0)},
          {kDiskKey, "0", REG_SZ, Sz("unused")},
          {std::string(kScsi) + "0\\Target Id 0\\Logical Unit Id 0", "Identifier",
           REG_SZ, Sz("AB")},
          {std::string(kScsi) + "0\\Target Id 1\\Logical Unit Id 0", NULL, 0, ""},
          {std::string(kScsi) + "0\\Target Id 3\\Logical Unit Id 0", "Identifier",
           REG_SZ, Sz("skipped")},
          {std::string(kScsi) + "1\\Target Id 0\\Logical Unit Id 0", "Identifier",
           REG_SZ, Sz("C")}},
         0x36, 44, Xor(mac), Sum("ABC")},
        {{{kNtVersion, "CurrentVersion", REG_SZ, Sz("six")},
          {kMacKey, "MAC", REG_SZ, Sz("")},
          {kRpcKey, "NetworkAddress", REG_BINARY, raw},
          {kDiskKey, "Count", REG_DWORD, Dword(3)},
          {kDiskKey, "0", REG_SZ, Sz("AB")},
          {kDiskKey, "2", REG_SZ, Sz("C")}},
         VersionRecordByte(), 0, Xor(raw), Sum("ABC")},
    };
    for (const Case &c : cases)
    {
        CPlantedMachine machine(c.values);
        ASSERT_TRUE(machine.Overridden());
        CMachineId id;
        BYTE record[MACHINE_ID_BYTES];
        EXPECT_EQ(MachineIdCheckByte(record), id.Build(record, 2));
        EXPECT_EQ(0x10, record[0]);
        EXPECT_EQ(c.product, record[1]);
        EXPECT_EQ(c.version, record[2]);
        EXPECT_EQ(c.network, record[4]);
        EXPECT_EQ(c.disk, record[5]);
        EXPECT_EQ(2, record[6]);
    }
}

// The identifier of this very system, its adapter address coming from the management
// service unless the registry names one.
TEST(MachineId, RealSystem)
{
    CMachineId id;
    CStr text;
    ASSERT_EQ(1, id.GetText(text, 2));
    EXPECT_TRUE(std::regex_match(text.GetText(), std::regex("[0-9A-F]{2}10-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{2}02")))
        << text.GetText();

    CWmiQuery query;
    ASSERT_EQ(1, query.Connect(L"ROOT\\CIMV2"));
    ASSERT_EQ(1, query.Query("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true"));
    CStr mac;
    INT32 enabled = 0;
    CWmiObject *adapter = query.First();
    if (adapter)
    {
        EXPECT_EQ(1, adapter->Get(L"MACAddress", &mac, NULL, 0));
        EXPECT_EQ(1, adapter->Get(L"IPEnabled", NULL, &enabled, 0));
        EXPECT_NE(0, enabled);
        EXPECT_EQ(0, adapter->Get(L"NoSuchProperty", &mac, NULL, 0));
    }
    query.Close();
    std::printf("machine id %s, adapter %s\n", text.GetText(), mac.GetText());
}
