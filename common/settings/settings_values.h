#pragma once

// The registry values the unit's programs share, one row each:
//   X(Accessor, key, value name, type, access, read default)
// type: Dword (REG_DWORD) or String (UTF-16 REG_SZ, UTF-8 at the API).
// access: R getter, W setter, I init setter (write only when absent unless
// forced). The default ({} for none) is stored into the caller's variable
// before reading, so a missing key or value yields it.
//
// "Canbus" of the Event key has two readers in the unit's programs, one
// expecting 1 and one 0 when it is missing: Canbus and CanbusDefault0.
// "BackCar" exists under Event and under State; the State one is StateBackCar.

namespace hu {

inline constexpr char kSettingsKeySetting[] = "SOFTWARE\\Dravik\\App\\9TRB2\\Setting";
inline constexpr char kSettingsKeyEvent[] = "SoftWare\\Dravik\\App\\9TRB2\\Event";
inline constexpr char kSettingsKeyOs[] = "SoftWare\\Dravik\\Os";
inline constexpr char kSettingsKeyOsdState[] = "SoftWare\\Dravik\\App\\OSDState";
inline constexpr char kSettingsKeyNoShowDeclare[] = "SoftWare\\Dravik\\App\\NoShowDeclare";
inline constexpr char kSettingsKeyModem[] = "ExtModems\\Modem";
inline constexpr char kSettingsKeyWndName[] = "SoftWare\\Q7Sys\\WndName";
inline constexpr char kSettingsKeyHeadRest[] = "SoftWare\\Dravik\\App\\HeadRest";
inline constexpr char kSettingsKeyVolume[] = "SoftWare\\Dravik\\App\\9TRB2\\Volume";
inline constexpr char kSettingsKeyAvin[] = "SoftWare\\Dravik\\App\\9TRB2\\AVIN";
inline constexpr char kSettingsKeyState[] = "SoftWare\\Dravik\\App\\9TRB2\\State";
inline constexpr char kSettingsKeySupport[] = "SoftWare\\Dravik\\App\\9TRB2\\support";
inline constexpr char kSettingsKeyBackCarCamera[] = "SoftWare\\Dravik\\App\\9TRB2\\BackCarCamera";
inline constexpr char kSettingsKeyBlueTooth[] = "SoftWare\\Q7Sys\\BlueTooth";
inline constexpr char kSettingsKeyAux[] = "SoftWare\\Dravik\\App\\9TRB2\\AUX";

}  // namespace hu

// clang-format off
#define HU_SETTINGS_VALUES(X) \
  X(CanbusTimeAdjust,   kSettingsKeySetting, "CanbusTimeAdjust",   Dword,  R,   1)  \
  X(CanbusAwake,        kSettingsKeySetting, "CanbusAwake",        Dword,  WI,  {}) \
  X(CanbusAuxState,     kSettingsKeySetting, "CanbusAuxState",     Dword,  R,   1)  \
  X(PlayMedia,          kSettingsKeySetting, "PlayMedia",          Dword,  WI,  {}) \
  X(AvinMirror,         kSettingsKeySetting, "AvinMirror",         Dword,  RWI, 0)  \
  X(SDCardType,         kSettingsKeySetting, "SDCardType",         Dword,  WI,  {}) \
  X(DvdUsb,             kSettingsKeySetting, "DvdUsb",             Dword,  RW,  {}) \
  X(HeadrestState,      kSettingsKeySetting, "HeadrestState",      Dword,  RW,  {}) \
  X(HeadrestTouchState, kSettingsKeySetting, "HeadrestTouchState", Dword,  RW,  {}) \
  X(CMMBSearchState,    kSettingsKeySetting, "CMMBSearchState",    Dword,  RW,  {}) \
  X(DvdDisk,            kSettingsKeySetting, "DvdDisk",            Dword,  RW,  {}) \
  X(Ipod,               kSettingsKeySetting, "Ipod",               Dword,  RW,  {}) \
  X(CanbusType,         kSettingsKeySetting, "CanbusType",         String, RW,  {}) \
  X(Q7BlueCodeNum,      kSettingsKeySetting, "Q7BlueCodeNum",      String, RW,  {}) \
  X(CanbusVolumeCotl,   kSettingsKeySetting, "CanbusVolumeCotl",   Dword,  RW,  {}) \
  X(EQCtrState,         kSettingsKeySetting, "EQCtrState",         Dword,  RW,  {}) \
  X(BackCarAlp,         kSettingsKeySetting, "BackCarAlp",         Dword,  RW,  15) \
  X(BTMuiscState,       kSettingsKeySetting, "BTMuiscState",       Dword,  RW,  {}) \
  X(MuiscPlayState,     kSettingsKeySetting, "MuiscPlayState",     Dword,  RW,  {}) \
  X(AJXNavi,            kSettingsKeySetting, "AJXNavi",            Dword,  RW,  {}) \
  X(AJXPhone,           kSettingsKeySetting, "AJXPhone",           Dword,  RW,  {}) \
  X(StartProc,          kSettingsKeySetting, "StartProc",          Dword,  RW,  {}) \
  X(AJXVolState,        kSettingsKeySetting, "AJXVolState",        Dword,  RW,  {}) \
  X(Subwoofer,          kSettingsKeySetting, "Subwoofer",          Dword,  RW,  1)  \
  X(MCUVER,             kSettingsKeySetting, "MCUVER",             String, RW,  {}) \
  X(CustomerID,         kSettingsKeySetting, "CustomerID",         String, RW,  {}) \
  X(PanelConfigID,      kSettingsKeySetting, "PanelConfigID",      String, RW,  {}) \
  X(NetWorkType,        kSettingsKeySetting, "NetWorkType",        Dword,  RW,  {}) \
  X(Canbus,             kSettingsKeyEvent,   "Canbus",             Dword,  RWI, 1)  \
  X(CanbusDefault0,     kSettingsKeyEvent,   "Canbus",             Dword,  R,   0)  \
  X(Sleep,              kSettingsKeyEvent,   "Sleep",              Dword,  RWI, 0)  \
  X(BackCar,            kSettingsKeyEvent,   "BackCar",            Dword,  RWI, 0)  \
  X(BlueTooth,          kSettingsKeyEvent,   "BlueTooth",          Dword,  RWI, 3)  \
  X(BTMusicState,       kSettingsKeyEvent,   "BTMusicState",       Dword,  RWI, 13) \
  X(CmmbDevice,         kSettingsKeyEvent,   "CmmbDevice",         Dword,  RW,  {}) \
  X(CarLamp,            kSettingsKeyEvent,   "CarLamp",            Dword,  RWI, 0)  \
  X(BackLight,          kSettingsKeyEvent,   "BackLight",          Dword,  R,   {}) \
  X(CMMB_TYPE,          kSettingsKeyOs,      "CMMB_TYPE",          String, R,   {}) \
  X(CPU_TYPE,           kSettingsKeyOs,      "CPU_TYPE",           String, R,   {}) \
  X(PROJECTTYPE,        kSettingsKeyOs,      "PROJECTTYPE",        Dword,  R,   {}) \
  X(FMOUT_TYPE,         kSettingsKeyOs,      "FMOUT_TYPE",         String, R,   {}) \
  X(HW_VERSION,         kSettingsKeyOs,      "HW_VERSION",         String, R,   {}) \
  X(IIS_COUNT,          kSettingsKeyOs,      "IIS_COUNT",          Dword,  R,   {}) \
  X(TOUCHTYPE,          kSettingsKeyOs,      "TOUCHTYPE",          Dword,  R,   {}) \
  X(CMMBTYPE,           kSettingsKeyOs,      "CMMBTYPE",           Dword,  R,   {}) \
  X(COM3_INDEPENDENT,   kSettingsKeyOs,      "COM3_INDEPENDENT",   Dword,  R,   0)  \
  X(BT_TYPE,            kSettingsKeyOs,      "BT_TYPE",            String, RW,  {}) \
  X(OSDState,           kSettingsKeyOsdState, "OSDState",          Dword,  RW,  {}) \
  X(NoShowDeclare,      kSettingsKeyNoShowDeclare, "NoShowDeclare", Dword, RW,  {}) \
  X(Port,               kSettingsKeyModem,   "Port",               String, R,   {}) \
  X(TranslateWndName,   kSettingsKeyWndName, "TranslateWndName",   String, W,   {}) \
  X(PllowCtrState,      kSettingsKeyHeadRest, "PllowCtrState",     Dword,  RW,  {}) \
  X(VolumeMute,         kSettingsKeyVolume,  "VolumeMute",         Dword,  RW,  1)  \
  X(DeviceID,           kSettingsKeyVolume,  "DeviceID",           Dword,  RWI, 1)  \
  X(WaveCtrl,           kSettingsKeyVolume,  "WaveCtrl",           Dword,  RW,  {}) \
  X(GPSVolumeMute,      kSettingsKeyVolume,  "GPSVolumeMute",      Dword,  R,   1)  \
  X(DisMode,            kSettingsKeyAvin,    "DisMode",            Dword,  RW,  1)  \
  X(MstarDvdDisk,       kSettingsKeyState,   "MstarDvdDisk",       Dword,  RW,  {}) \
  X(MstarDvdUSB,        kSettingsKeyState,   "MstarDvdUSB",        Dword,  RW,  {}) \
  X(MstarDvdSD,         kSettingsKeyState,   "MstarDvdSD",         Dword,  RW,  {}) \
  X(MstarDTV,           kSettingsKeyState,   "MstarDTV",           Dword,  RW,  {}) \
  X(StateBackCar,       kSettingsKeyState,   "BackCar",            Dword,  RW,  {}) \
  X(CarTrack,           kSettingsKeyState,   "CarTrack",           Dword,  RW,  {}) \
  X(BuiltInCam,         kSettingsKeyState,   "BuiltInCam",         Dword,  RW,  {}) \
  X(VoiceRecorder,      kSettingsKeySupport, "VoiceRecorder",      Dword,  RW,  {}) \
  X(bInitBackCar,       kSettingsKeyBackCarCamera, "bInitBackCar", Dword,  RW,  {}) \
  X(CameraType,         kSettingsKeyBackCarCamera, "CameraType",   Dword,  RW,  0)  \
  X(BtMode,             kSettingsKeyBlueTooth, "BtMode",           String, R,   {}) \
  X(ForbidAuxVideo,     kSettingsKeyAux,     "ForbidAuxVideo",     Dword,  RW,  {})
// clang-format on

// Which accessors an access kind has; E(Get|Set|Init, Accessor, type).
#define HU_SETTINGS_ACCESS_R(E, N, T) E(Get, N, T)
#define HU_SETTINGS_ACCESS_W(E, N, T) E(Set, N, T)
#define HU_SETTINGS_ACCESS_RW(E, N, T) E(Get, N, T) E(Set, N, T)
#define HU_SETTINGS_ACCESS_WI(E, N, T) E(Set, N, T) E(Init, N, T)
#define HU_SETTINGS_ACCESS_RWI(E, N, T) E(Get, N, T) E(Set, N, T) E(Init, N, T)

// Parameter types of the accessors by value type.
#define HU_SETTINGS_OUT_Dword uint32_t&
#define HU_SETTINGS_OUT_String std::string&
#define HU_SETTINGS_IN_Dword uint32_t
#define HU_SETTINGS_IN_String const std::string&
