#include "canprobe/dialog_update.h"

#include <cstdio>
#include <cstdlib>

#include "canprobe/com_transport.h"
#include "canprobe/dialog_update_file.h"
#include "canprobe/iap_engine.h"
#include "canprobe/link_center.h"
#include "canprobe/platform_query.h"
#include "canprobe/run_exe.h"
#include "common/platform/trace.h"

namespace hu {

namespace {

constexpr int kBuiltInCount = 11;
const char* const kChineseCars[kBuiltInCount] = {
    "雪弗兰科鲁兹原车小屏", "雪弗兰科鲁兹原车大屏", "雪弗兰科鲁兹原车大屏带USB", "别克英朗GT原车小屏",
    "别克英朗GT原车大屏",   "别克英朗XT原车大屏",   "别克英朗GT/XT原车大屏带USB", "别克新君威原车大屏带USB",
    "别克新君越原车大屏带USB", "别克GL8", "别克昂科拉"};
const char* const kEnglishCars[kBuiltInCount] = {"Chevrolet cruze,small screen",
                                                 "Chevrolet cruze,big screen",
                                                 "Chevrolet cruze,big screen ,USB",
                                                 "BUICK EXCELLE GT,small screen",
                                                 "BUICK EXCELLE GT,big screen",
                                                 "BUICK EXCELLE XT,big screen",
                                                 "BUICK EXCELLE GT/XT,big screen,USB",
                                                 "BUICK REGAL,big screen,USB",
                                                 "BUICK LaCross,big screen,USB",
                                                 "BUICK GL8",
                                                 "BUICK ENCORE"};
constexpr const char* kOtherChinese = "其它车型";
constexpr const char* kOtherEnglish = "Other non-Buick Series";
constexpr const char* kSetCarCaption = "设置车型...";
constexpr const char* kSetCarNowCaption = "设置车型";
constexpr const char* kExitCaption = "退出";
constexpr const char* kBackCaption = "返回";
constexpr const char* kBuildStamp = "Tue Sep  3 09:59:00 2013";
constexpr const char* kZentrovaPath = "\\dravik\\$KVR$\\App\\Zentrova.exe";
constexpr const char* kStartdeckPath = "\\dravik\\$KVR$\\App\\Startdeck.exe";
constexpr const char* kHelpText =
    "1,请先确定Can芯片为STM32类型!\r\n2,升级文件格式为*.canbox!\r\n3,升级失败请重试!\r\n4,针对通用系列Can盒:\r\n"
    "  可通过“设置车型...”切换到车型选择界面，设置需要的车型\r\n  设置完车型后，点击\"返回\"，可切换到Can盒升级界面\r\n"
    "5,升级Can盒成功后如需验证各功能建议先重启机器!";
constexpr uint32_t kCloseTimeoutMs = 5000;
const int kButtons[] = {DialogUpdate::IDC_READCAR, DialogUpdate::IDC_UPDATE, DialogUpdate::IDC_SETCAR,
                        DialogUpdate::IDC_EXIT};
const Rect kStatusRect{10, 10, 770, 300};
const Rect kTopButtonRect{10, 320, 180, 50};

}  // namespace

DialogUpdate::DialogUpdate(Desktop& desktop, const CanprobeServices& services)
    : Dialog(desktop, IDD), m_services(services) {
  Template().title = "Update";
  Template().visible = false;
  Template().style = 0;
  DefineControl(ControlKind::Edit, IDC_STATUS, "", kStatusRect).SetMultiLine(true).SetReadOnly(true);
  DefineControl(ControlKind::PushButton, IDC_READCAR, "读车型", kTopButtonRect);
  DefineControl(ControlKind::PushButton, IDC_UPDATE, "升级CAN盒", Rect{200, 320, 180, 50});
  DefineControl(ControlKind::ListView, IDC_CARLIST, "", Rect{10, 10, 770, 300});
  DefineControl(ControlKind::RadioButton, IDC_CHINESE, "中文", Rect{400, 320, 90, 50}).SetGroup(1);
  DefineControl(ControlKind::RadioButton, IDC_ENGLISH, "English", Rect{500, 320, 90, 50}).SetGroup(1);
  DefineControl(ControlKind::PushButton, IDC_SETCAR, kSetCarCaption, Rect{10, 380, 180, 50});
  DefineControl(ControlKind::PushButton, IDC_EXIT, kExitCaption, Rect{200, 380, 180, 50});
  DefineControl(ControlKind::Static, IDC_VERSION, "...", Rect{400, 380, 380, 50});
}

DialogUpdate::~DialogUpdate() {
  if (m_worker.joinable()) m_worker.join();
}

void DialogUpdate::OnDestroy() {
  // The worker posts to this page: it must be done before the page goes.
  if (m_worker.joinable()) m_worker.join();
  if (LinkCenter* center = LinkCenter::Existing()) {
    Manager* manager = center->GetManager();
    // The reader may be handing this page a reply right now.
    if (manager != nullptr) manager->DetachNotifyTarget(this);
  }
  if (m_bWaitCursor) GetDesktop().EndWaitCursor();
  m_bWaitCursor = false;
}

bool DialogUpdate::OnInitDialog() {
  Font font;
  font.face = "Microsoft Sans Serif";
  font.height = 14;
  for (const std::unique_ptr<Control>& control : Controls()) control->SetFont(font);
  char version[80];
  std::snprintf(version, sizeof(version), "[Ver: %s]\r\n", kBuildStamp);
  SetDlgItemText(IDC_VERSION, version);
  SetStatus(kHelpText);
  m_nIapStage = 5;
  if (Control* list = GetDlgItem(IDC_CARLIST)) list->InsertColumn(0, "", 700);
  if (Control* chinese = GetDlgItem(IDC_CHINESE)) CheckRadio(*chinese);
  m_bEnglish = false;
  LoadCarTable(false);
  FillList(false, false);
  ShowUpgradeView();
  if (m_oneShot.kind != OneShot::Kind::None) PostMessage(kMsgOneShot);
  return true;
}

void DialogUpdate::StartOneShot() {
  switch (m_oneShot.kind) {
    case OneShot::Kind::ReadType:
      ReadCarType();
      break;
    case OneShot::Kind::SetType: {
      ShowSelectionView();
      Control* list = GetDlgItem(IDC_CARLIST);
      int row = -1;
      for (int i = 0; list != nullptr && i < list->GetItemCount(); ++i) {
        if (CarIdOf(list->GetItemText(i)) == m_oneShot.carId) {
          row = i;
          break;
        }
      }
      if (row < 0) {
        const std::string text = "no vehicle type with id " + std::to_string(m_oneShot.carId) +
                                 " in the list (the built-in ids 0 to 10, and those of CarTypeDef.txt)";
        SetStatus(text);
        EndJob(false, text);
        return;
      }
      list->SetCurSel(row);
      SetCarType();
      break;
    }
    case OneShot::Kind::Upgrade:
      SetStatus("请稍后...");
      StartUpgrade();
      break;
    case OneShot::Kind::None:
      break;
  }
}

void DialogUpdate::EndJob(bool done, const std::string& failure) {
  if (done) {
    SetJobResult(kJobDone);
  } else {
    SetJobResult(kJobFailed, failure);
  }
  if (m_oneShot.kind == OneShot::Kind::None) return;
  m_oneShot.kind = OneShot::Kind::None;
  // Leaving restarts what the job closed; while that is still going down,
  // the program ends without it.
  if (!Leave()) GetDesktop().loop().Quit(0);
}

std::string DialogUpdate::WithPortFailure(const std::string& text) const {
  Serial* serial = m_services.platform.serial();
  const std::string why = serial != nullptr ? serial->LastOpenFailure() : std::string();
  return why.empty() ? text : text + "\r\n" + why;
}

uint8_t DialogUpdate::CarIdOf(const std::string& name) const {
  if (name == kOtherChinese) return kOtherCarId;
  for (int i = 0; i < kBuiltInCount; ++i) {
    if (name == kChineseCars[i]) return static_cast<uint8_t>(i);
  }
  if (m_pCarTable) {
    const std::optional<std::string> value = m_pCarTable->Get(m_services.platform.codePage().FromUtf8(name));
    if (value && !value->empty()) return static_cast<uint8_t>(std::atoi(value->c_str()));
  }
  return kNoCarId;
}

void DialogUpdate::LoadCarTable(bool english) {
  const std::string path = m_services.moduleDir + (english ? "\\CarTypeDef_English.txt" : "\\CarTypeDef.txt");
  m_pCarTable = std::make_unique<CToolConfig>(m_services.platform.files(), m_services.platform.codePage(), path,
                                              false);
  m_pCarTable->Load();  // a missing table leaves the built-in rows only
}

void DialogUpdate::FillList(bool withOther, bool english) {
  Control* list = GetDlgItem(IDC_CARLIST);
  if (list == nullptr) return;
  list->DeleteAllItems();
  if (withOther) list->InsertItem(list->GetItemCount(), english ? kOtherEnglish : kOtherChinese);
  for (int i = 0; i < kBuiltInCount; ++i)
    list->InsertItem(list->GetItemCount(), english ? kEnglishCars[i] : kChineseCars[i]);
  if (!m_pCarTable) return;
  CodePage& codePage = m_services.platform.codePage();
  for (const auto& entry : m_pCarTable->Entries()) list->InsertItem(list->GetItemCount(), codePage.ToUtf8(entry.first));
}

void DialogUpdate::SwitchLanguage(bool english) {
  m_bEnglish = english;
  SetDlgItemText(IDC_READCAR, english ? "Read CarType" : "读车型");
  SetDlgItemText(IDC_UPDATE, english ? "UpdateCanBox" : "升级Can盒");
  LoadCarTable(english);
  FillList(true, english);
}

void DialogUpdate::ShowUpgradeView() {
  m_bSelectionView = false;
  if (Control* list = GetDlgItem(IDC_CARLIST)) list->ShowWindow(SW_HIDE);
  if (Control* update = GetDlgItem(IDC_UPDATE)) update->ShowWindow(SW_SHOW);
  SetDlgItemText(IDC_EXIT, kExitCaption);
  SetDlgItemText(IDC_SETCAR, kSetCarCaption);
  if (Control* status = GetDlgItem(IDC_STATUS)) status->MoveWindow(kStatusRect);
  if (Control* top = GetDlgItem(IDC_READCAR)) top->MoveWindow(kTopButtonRect);
}

void DialogUpdate::ShowSelectionView() {
  m_bSelectionView = true;
  if (Control* list = GetDlgItem(IDC_CARLIST)) list->ShowWindow(SW_SHOW);
  if (Control* update = GetDlgItem(IDC_UPDATE)) update->ShowWindow(SW_HIDE);
  SetDlgItemText(IDC_EXIT, kBackCaption);
  SetDlgItemText(IDC_SETCAR, kSetCarNowCaption);
  if (Control* status = GetDlgItem(IDC_STATUS)) status->MoveWindow(kStatusRect);
  if (Control* top = GetDlgItem(IDC_READCAR)) top->MoveWindow(kTopButtonRect);
}

void DialogUpdate::EnableButtons(bool enable) {
  for (int id : kButtons) {
    if (Control* button = GetDlgItem(id)) button->EnableWindow(enable);
  }
}

void DialogUpdate::SetStatus(const std::string& text) {
  if (Control* status = GetDlgItem(IDC_STATUS)) {
    status->SetWindowText(text);
    status->ScrollToEnd();
  }
  UpdateWindow();
}

void DialogUpdate::PostStatus(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_textMutex);
    m_strPosted = text;
  }
  PostMessage(kMsgShowText);
}

int DialogUpdate::SelectedRow() const {
  const Control* list = GetDlgItem(IDC_CARLIST);
  return list != nullptr ? list->GetCurSel() : -1;
}

void DialogUpdate::MainToTop() {
  Dialog* main = GetParent();
  if (main == nullptr) return;
  main->SetForegroundWindow();
  main->SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void DialogUpdate::KillStartdeckAndWait() {
  m_bStartdeckClosed = true;
  Trace("pordo***[%s][%d][%s]*****************:Call KillStartdeckAndWait()#\n", "DialogUpdate::KillStartdeckAndWait",
        324, ".\\DialogUpdate");
  Windows& windows = m_services.windows;
  LRESULT result = 0;
  // A time-out keeps a hung program from freezing the tool.
  for (const char* title : {"Startdeck_Window", "CanBus", "MonitorCenterOfMcu"}) {
    if (HWND hwnd = windows.FindWindow("", title)) windows.SendMessage(hwnd, WM_CLOSE, 0, 0, kCloseTimeoutMs, &result);
  }
  Processes& processes = m_services.platform.processes();
  if (uint32_t pid = FindProcess(processes, "\\Dravik\\$KVR$\\App\\Appvisor.exe")) processes.TerminateProcess(pid, 0);
  if (HWND hwnd = windows.FindWindow("", "Zentrova")) {
    windows.SendMessage(hwnd, WM_CLOSE, 0, 0, kCloseTimeoutMs, &result);
    m_services.platform.clock().Sleep(3000);
    if (HWND serial = windows.FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME"))
      windows.SendMessage(serial, WM_CLOSE, 0, 0, kCloseTimeoutMs, &result);
  }
  RunExe(m_services.platform.files(), processes, "\\Windows\\explorer.exe");
  if (windows.FindWindow("", "Startdeck_Window") != 0)
    m_bStartdeckGone = false;
  else
    m_bStartdeckGone = windows.FindWindow("", "Zentrova") == 0;
}

bool DialogUpdate::OnCommand(int id) {
  switch (id) {
    case IDC_READCAR:
      ReadCarType();
      return true;
    case IDC_UPDATE:
      SetStatus("请稍后...");
      SetTimer(kTimerUpgrade, 50);
      return true;
    case IDC_CHINESE:
    case IDC_ENGLISH:
      SwitchLanguage(id == IDC_ENGLISH);
      return true;
    case IDC_SETCAR:
      if (GetDlgItemText(IDC_SETCAR) == kSetCarCaption)
        ShowSelectionView();
      else
        SetCarType();
      return true;
    case IDC_EXIT:
      if (GetDlgItemText(IDC_EXIT) == kExitCaption)
        Leave();
      else
        ShowUpgradeView();
      return true;
    default:
      return false;
  }
}

void DialogUpdate::OnTimer(uint32_t id) {
  switch (id) {
    case kTimerReply:
      OnReplyTick();
      break;
    case kTimerQuit:
      KillTimer(kTimerQuit);
      // Ends the program at once; the event loop hands the code to the runner.
      GetDesktop().loop().Quit(0);
      break;
    case kTimerUpgrade:
      KillTimer(kTimerUpgrade);
      StartUpgrade();
      break;
    default:
      break;
  }
}

bool DialogUpdate::OnMessage(uint32_t message, WPARAM wParam, LPARAM) {
  if (message == kMsgShowText) {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(m_textMutex);
      text = m_strPosted;
    }
    SetStatus(text);
    return true;
  }
  if (message == kMsgButtons) {
    EnableButtons(wParam != 0);
    return true;
  }
  if (message == kMsgOneShot) {
    StartOneShot();
    return true;
  }
  if (message == kMsgUpgradeEnd) {
    std::string failure;
    {
      std::lock_guard<std::mutex> lock(m_textMutex);
      failure = m_strUpgradeFailure;
    }
    EndJob(wParam != 0, failure);
    return true;
  }
  return false;
}

void DialogUpdate::ReadCarType() {
  m_bReplied = false;
  EnableButtons(false);
  m_nCountdown = 3000;
  SetStatus("正在请求车型ID....");
  if (!m_bWaitCursor) GetDesktop().BeginWaitCursor();
  m_bWaitCursor = true;
  KillStartdeckAndWait();
  RequestCarType();
}

void DialogUpdate::RequestCarType() {
  Clock& clock = m_services.platform.clock();
  LinkCenter* center = LinkCenter::Get();
  if (center != nullptr) {
    Manager* manager = center->GetManager();
    manager->SetNotifyTarget(this);
    center->CloseTransport();
    center->GetTransport();
    manager->RequestCarType(1);
    clock.Sleep(100);
    manager->RequestCarType(0);
    clock.Sleep(100);
    if (center->GetKind() == kLinkRaw) {
      if (auto* com = dynamic_cast<ComTransport*>(center->GetTransport())) com->SetRate(kFastBaud);
      manager->RequestCarType(1);
      clock.Sleep(100);
      manager->RequestCarType(0);
    }
  }
  SetTimer(kTimerReply, 500);
  MainToTop();
}

void DialogUpdate::OnReplyTick() {
  m_nCountdown -= 500;
  LinkCenter* center = LinkCenter::Get();
  if (m_nCountdown < 0 || m_bReplied) {
    KillTimer(kTimerReply);
    const bool replied = m_bReplied;
    const std::string failure = WithPortFailure("没有收到CAN数据！");
    if (!replied) SetStatus(failure);
    if (center != nullptr) center->CloseTransport();
    if (m_bWaitCursor) GetDesktop().EndWaitCursor();
    m_bWaitCursor = false;
    EnableButtons(true);
    m_bReplied = false;
    EndJob(replied, failure);
    return;
  }
  if (center == nullptr) return;
  Manager* manager = center->GetManager();
  if (center->GetPlatformQuery()->IsProjectType18() && m_nCountdown >= 1001 && m_nCountdown <= 1500) {
    center->CloseTransport();
    center->GetTransport();
    center->SetParams(center->DefaultRawPort(), kFastBaud);
    Trace("Switch COM RATE to 625000\n");
  }
  manager->RequestCarType(1);
  m_services.platform.clock().Sleep(100);
  manager->RequestCarType(0);
}

void DialogUpdate::OnCarTypeReply() {
  LinkCenter* center = LinkCenter::Existing();
  Manager* manager = center != nullptr ? center->GetManager() : nullptr;
  if (manager == nullptr) return;
  const std::string type = manager->CarType();
  const std::string version = manager->Version();
  if (version == "0102") {
    // Such a reply only counts from a box whose type says 'Z' second.
    if (type.size() < 2 || type[1] != 'Z') return;
    manager->SetNotifyTarget(nullptr);
  }
  m_bReplied = true;
  if (m_nIapStage.load() != 5) return;
  CodePage& codePage = m_services.platform.codePage();
  const std::string text = "VersionId:" + codePage.ToUtf8(type) + "\r\nCarId:" + codePage.ToUtf8(version) +
                           "\r\nData:" + codePage.ToUtf8(Manager::BuildDate(type)) +
                           "\r\nCar:" + codePage.ToUtf8(manager->Description(type).value_or(""));
  PostStatus(text);
}

void DialogUpdate::SetCarType() {
  const int row = SelectedRow();
  if (row < 0) {
    SetStatus("请先选择要设置的车型!!!");
    return;
  }
  const Control* list = GetDlgItem(IDC_CARLIST);
  const uint8_t carId = CarIdOf(list->GetItemText(row));
  EnableButtons(false);
  GetDesktop().BeginWaitCursor();
  SetStatus("正在设置车型ID....");
  KillStartdeckAndWait();
  if (LinkCenter* center = LinkCenter::Get()) {
    Manager* manager = center->GetManager();
    manager->EnsureOpen();
    manager->SetCarId(carId);
    m_services.platform.clock().Sleep(100);
    center->CloseTransport();
    std::unique_ptr<DataTransport> transport = center->MakeComTransport(center->DefaultRawPort(), kFastBaud);
    DataTransport* raw = transport.get();
    center->SetTransport(std::move(transport), kLinkRaw);
    if (raw != nullptr) raw->Open();
    manager->SetCarId(carId);
    center->CloseTransport();
  }
  // The read-back that follows keeps the buttons and the wait cursor until its end.
  GetDesktop().EndWaitCursor();
  if (!m_bWaitCursor) GetDesktop().BeginWaitCursor();
  m_bWaitCursor = true;
  m_nCountdown = 3000;
  RequestCarType();
}

void DialogUpdate::SendLoaderAt(uint32_t baud, int times) {
  LinkCenter* center = LinkCenter::Get();
  if (center == nullptr) return;
  std::unique_ptr<DataTransport> transport = center->MakeComTransport(center->DefaultRawPort(), baud);
  DataTransport* raw = transport.get();
  center->SetTransport(std::move(transport), kLinkRaw);
  if (raw != nullptr) raw->Open();
  Manager* manager = center->GetManager();
  for (int i = 0; i < times; ++i) {
    manager->SendLoaderCommand();
    m_services.platform.clock().Sleep(100);
  }
  center->CloseTransport();
}

void DialogUpdate::StartUpgrade() {
  KillStartdeckAndWait();
  EnableButtons(false);
  SetStatus("正在设置波特率，请等待...");
  const int row = SelectedRow();
  const Control* list = GetDlgItem(IDC_CARLIST);
  m_byCarWantToUpdate = row >= 0 && list != nullptr ? CarIdOf(list->GetItemText(row)) : kNoCarId;

  if (LinkCenter* center = LinkCenter::Get()) center->CloseTransport();
  SendLoaderAt(kSlowBaud, 3);
  SendLoaderAt(kFastBaud, 3);

  EnableButtons(true);
  SetStatus("");
  if (m_oneShot.kind == OneShot::Kind::Upgrade) {
    // The file of the command line instead of a person's choice.
    const size_t slash = m_oneShot.file.find_last_of('\\');
    m_strHexFilePath = m_oneShot.file.substr(0, slash + 1);
    m_strHexFileName = m_oneShot.file.substr(slash + 1);
  } else {
    DialogUpdateFile fileDialog(GetDesktop(), this, m_services.platform.files(), m_services.moduleDir);
    if (fileDialog.DoModal() != IDOK || fileDialog.FileName().empty()) return;
    m_strHexFilePath = fileDialog.Folder();
    m_strHexFileName = fileDialog.FileName();
  }
  Trace("HexFilePath: %s\n", m_strHexFilePath.c_str());
  Trace("HexFileName: %s\n", m_strHexFileName.c_str());
  if (m_worker.joinable()) m_worker.join();
  EnableButtons(false);  // before the worker runs, so no second start slips in
  try {
    m_worker = std::thread(&DialogUpdate::IAPProc, this, m_strHexFilePath + m_strHexFileName);
  } catch (const std::exception& e) {
    Trace("DialogUpdate::StartUpgrade CreateThread failed: %s\n", e.what());
    EnableButtons(true);
    EndJob(false, "升级失败!!!请重试!");
  }
}

bool DialogUpdate::Leave() {
  Processes& processes = m_services.platform.processes();
  const bool running = FindProcess(processes, kZentrovaPath) != 0 || FindProcess(processes, kStartdeckPath) != 0;
  if (m_bStartdeckClosed && running) {
    SetStatus("请稍后再退出 或 请直接重启机器!");
    return false;
  }
  EnableButtons(false);
  if (running) {
    SetTimer(kTimerQuit, 0);
    return true;
  }
  Files& files = m_services.platform.files();
  for (const char* path : {kZentrovaPath, kStartdeckPath}) {
    if (files.GetAttributes(path) != INVALID_FILE_ATTRIBUTES && FindProcess(processes, path) == 0) {
      RunExe(files, processes, path);
      break;
    }
  }
  MainToTop();
  if (!m_bWaitCursor) GetDesktop().BeginWaitCursor();
  m_bWaitCursor = true;
  SetTimer(kTimerQuit, 3000);
  return true;
}

}  // namespace hu
