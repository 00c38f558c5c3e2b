// The configuration library's network settings: the capture device on which the board was last
// found, and the software MAC mode with the board address's first byte. The adapter selection,
// the board detection and the shared capture handle reach them through the global object
// OC_NetworkCommon. Header-only: the store (an INI file, see the integration guide) is read and
// written by the library, which serialises writers itself.
#pragma once

#include <cstdint>
#include <string>

#include <ferrolink/api/ferrolink.h>

// How the board detection judges a board's source address; values other than these two accept
// no board.
enum ESoftwareMacMode : int {
    SoftwareMacMode_AnyFirstByte = 1,    // any first byte
    SoftwareMacMode_FixedFirstByte = 2,  // only the configured first byte
};

// The first byte of a board's MAC address. Every byte value is a valid EMacAddress, so that any
// board can be named; the board's factory value has a name of its own.
enum EMacAddress : unsigned char {
    MacAddress_Default = 0x12,
};

class CSerialize_NetworkCommon {
public:
    CSerialize_NetworkCommon() = default;
    CSerialize_NetworkCommon(const CSerialize_NetworkCommon&) = delete;
    CSerialize_NetworkCommon& operator=(const CSerialize_NetworkCommon&) = delete;

    // The capture device name ("rpcap://..."), empty when none was stored.
    std::string Previous_PCapDeviceName_Get() const {
        return Text(&flk_config_previous_device_get);
    }
    // True when the name was stored.
    bool Previous_PCapDeviceName_Set(std::string name) {
        return flk_config_previous_device_set(name.c_str()) == FLK_OK;
    }

    // SoftwareMacMode_AnyFirstByte by default.
    ESoftwareMacMode SoftwareMac_Mode_Get() const {
        return static_cast<ESoftwareMacMode>(flk_config_mac_mode_get());
    }
    bool SoftwareMac_Mode_Set(ESoftwareMacMode mode) {
        return flk_config_mac_mode_set(mode) == FLK_OK;
    }

    // MacAddress_Default by default.
    EMacAddress SoftwareMac_Address_Get() const {
        return Address_Value_2_Enum(flk_config_mac_address_get());
    }
    bool SoftwareMac_Address_Set(EMacAddress address) {
        return flk_config_mac_address_set(Address_Enum_2_Value(address)) == FLK_OK;
    }

    static unsigned char Address_Enum_2_Value(EMacAddress address) {
        return static_cast<unsigned char>(address);
    }
    static EMacAddress Address_Value_2_Enum(unsigned char value) {
        return static_cast<EMacAddress>(value);
    }
    // Two upper-case hexadecimal digits ("12", "9A"): fit for a file or event name.
    static std::string Address_Enum_2_String(EMacAddress address) {
        static const char digits[] = "0123456789ABCDEF";
        const unsigned value = Address_Enum_2_Value(address);
        return std::string{digits[value >> 4], digits[value & 0xF]};
    }

    // The file the settings live in, from the environment at the time of the call; empty when
    // there is no home directory to put it in.
    static std::string ConfigPath_Get() { return Text(&flk_config_path); }
    // Whether the settings can be read and stored where ConfigPath_Get says; otherwise false with
    // the reason in `why`, so that a caller reports it instead of the failure it would cause.
    static bool ConfigPath_Check(std::string& why) {
        flk_status status = FLK_OK;
        why = Text(&flk_config_path_check, &status);
        return status == FLK_OK;
    }

private:
    using TextQuery = flk_status(FLK_CALL*)(char*, std::int32_t, std::int32_t*);

    // A text result of the C interface, asked again with room when the first buffer was short.
    // `status` gets the query's answer (text or not).
    static std::string Text(TextQuery query, flk_status* status = nullptr) {
        std::string text(256, '\0');
        std::int32_t length = 0;
        flk_status answer = query(&text[0], static_cast<std::int32_t>(text.size()), &length);
        if (answer == FLK_BUFFER_TOO_SMALL) {
            text.assign(static_cast<std::size_t>(length) + 1, '\0');
            answer = query(&text[0], static_cast<std::int32_t>(text.size()), &length);
        }
        if (status != nullptr) *status = answer;
        if (answer != FLK_OK && answer != FLK_FAILED && answer != FLK_NOT_FOUND) return {};
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
};

// The configuration object of the process; it holds nothing, the settings are the library's.
inline CSerialize_NetworkCommon OC_NetworkCommon;
