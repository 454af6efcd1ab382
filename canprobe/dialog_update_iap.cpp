// The upgrade worker of the "Update" page: drives the IAP engine stage by
// stage and reports through posted messages only.
#include <cstdio>

#include "canprobe/com_transport.h"
#include "canprobe/dialog_update.h"
#include "canprobe/iap_engine.h"
#include "canprobe/link_center.h"
#include "common/platform/trace.h"

namespace hu {

namespace {

constexpr uint32_t kPollMs = 20;
constexpr uint32_t kTryMs = 1000;

// One stage of `tries` sends 1000 ms apart; true when acknowledged, or for a
// stage that awaits none, once its tries are used up.
bool RunStage(CStm32IapEngine& engine, Clock& clock, std::atomic<int>& stageState, int stage, int tries,
              bool awaitAck) {
  stageState = stage;
  engine.ClearAcknowledged(stage);
  const uint32_t start = clock.GetTickCount();
  int used = 0;
  for (;;) {
    if (awaitAck && engine.Acknowledged(stage)) return true;
    const uint32_t elapsed = clock.GetTickCount() - start;
    if (elapsed >= static_cast<uint32_t>(used) * kTryMs) {
      if (used == tries) return !awaitAck;
      if (used == 0)
        engine.BeginStage(stage);
      else
        engine.Resend();
      ++used;
    }
    clock.WaitFor(kPollMs, [&] { return awaitAck && engine.Acknowledged(stage); });
  }
}

std::string Format(const char* format, uint32_t address, int percent) {
  char line[96];
  std::snprintf(line, sizeof(line), format, address, percent);
  return line;
}

}  // namespace

void DialogUpdate::IAPProc(std::string path) {
  Clock& clock = m_services.platform.clock();
  const uint32_t startTick = clock.GetTickCount();
  m_nIapStage = 5;
  LinkCenter* center = LinkCenter::Get();
  if (center == nullptr) {
    PostMessage(kMsgButtons, 1);
    EndUpgrade(false, "升级失败!!!请重试!");
    return;
  }
  DataTransport* transport = center->GetTransport();
  Manager* manager = center->GetManager();
  m_pEngine.reset();
  IapServices iapServices{&m_services.platform.files(), &m_services.windows, m_services.moduleDir};
  m_pEngine = std::make_unique<CStm32IapEngine>(iapServices, transport, center->GetKind());
  CStm32IapEngine& engine = *m_pEngine;

  PostMessage(kMsgButtons, 0);
  std::string log = path + "\r\n" + "正在初始化...\r\n";
  PostStatus(log);
  if (!m_bStartdeckGone) KillStartdeckAndWait();
  log += "正在解析升级文件...\r\n";
  PostStatus(log);
  if (!engine.Parse(path)) {
    m_pEngine.reset();
    PostStatus("解析升级文件包错误!\r\n");
    PostMessage(kMsgButtons, 1);
    EndUpgrade(false, path + ": 解析升级文件包错误!");
    return;
  }
  if (transport == nullptr) {
    m_pEngine.reset();
    PostStatus(log + "升级失败!!!请重试!\r\n");
    PostMessage(kMsgButtons, 1);
    EndUpgrade(false, WithPortFailure("升级失败!!!请重试!"));
    return;
  }
  if (transport->GetState() != DataTransport::kOpened) transport->Open();
  transport->SetSink(&engine);
  log = "正在升级:" + path + "\r\n";
  PostStatus(log);

  // 0: enter IAP (nothing acknowledges it), then give the loader time.
  RunStage(engine, clock, m_nIapStage, 0, 3, false);
  clock.Sleep(1000);

  int failedStage = -1;
  if (!RunStage(engine, clock, m_nIapStage, 1, 3, true)) {
    log += "擦除应用程序区的FLASH失败!\r\n";
    failedStage = 1;
  }
  if (failedStage < 0) {
    clock.Sleep(500);
    m_nIapStage = 2;
    engine.ClearAcknowledged(2);
    while (engine.BeginStage(2)) {
      PostStatus(log + Format("进度:[0x%.8x] %d%% ...\r\n", engine.CurrentAddress(), engine.ProgressPercent()));
      clock.Sleep(kPollMs);
      const uint32_t sent = clock.GetTickCount();
      int tries = 1;
      bool acknowledged = false;
      for (;;) {
        if (engine.Acknowledged(2)) {
          acknowledged = true;
          break;
        }
        const uint32_t elapsed = clock.GetTickCount() - sent;
        if (elapsed >= 3 * kTryMs) break;
        if (elapsed >= static_cast<uint32_t>(tries) * kTryMs) {
          engine.Resend();
          ++tries;
        }
        clock.WaitFor(kPollMs, [&] { return engine.Acknowledged(2); });
      }
      if (!acknowledged) {
        log += Format("[0x%.8x] 进度:%d%% 失败!\r\n", engine.CurrentAddress(), engine.ProgressPercent());
        failedStage = 2;
        break;
      }
      engine.ClearAcknowledged(2);
    }
    if (failedStage < 0) log += "正在完成升级...\r\n";
  }
  if (failedStage < 0) {
    if (!RunStage(engine, clock, m_nIapStage, 3, 3, true)) {
      log += "退出IAP状态失败!\r\n";
      failedStage = 3;
    } else if (m_byCarWantToUpdate == kOtherCarId) {
      clock.Sleep(2000);
    } else {
      Trace("pordo***[%s][%d][%s]*****************:(m_byCarWantToUpdate = %d)not need Sleep(2000) after Exit IAP#\n",
            "DialogUpdate::IAPProc", 0, ".\\DialogUpdate", static_cast<int>(m_byCarWantToUpdate.load()));
    }
  }
  bool succeeded = false;
  if (failedStage < 0) {
    const bool flagErased = RunStage(engine, clock, m_nIapStage, 4, 3, true);
    transport->SetSink(manager);
    manager->SetNotifyTarget(this);
    m_bReplied = false;
    for (int attempt = 0; attempt < 4 && !m_bReplied; ++attempt) {
      manager->RequestCarType(1);
      clock.Sleep(100);
      if (!m_bReplied) manager->RequestCarType(0);
      clock.Sleep(400);
      if (center->GetKind() == kLinkRaw && !m_bReplied) {
        if (auto* com = dynamic_cast<ComTransport*>(transport)) com->SetRate(kFastBaud);
        manager->RequestCarType(1);
        clock.Sleep(100);
        if (!m_bReplied) manager->RequestCarType(0);
        clock.Sleep(400);
      }
    }
    const int seconds = static_cast<int>((clock.GetTickCount() - startTick) / 1000);
    char text[160];
    if (m_bReplied) {
      const std::string type = m_services.platform.codePage().ToUtf8(manager->CarType());
      std::snprintf(text, sizeof(text), "升级完成! 总耗时%d秒! 升级后车型: %s", seconds, type.c_str());
      succeeded = true;
    } else if (flagErased) {
      std::snprintf(text, sizeof(text), "升级完成! 总耗时%d秒!", seconds);
      succeeded = true;
    } else {
      std::snprintf(text, sizeof(text), "%s", "擦除IAP标志失败!");
      failedStage = 4;
    }
    log += text;
  }
  if (!succeeded) {
    if (failedStage == 2) {
      log += "升级失败!!!请重试!\r\n";
    } else {
      log += "正在退出IAP状态及擦除IAP标志，请等待!\r\n";
      PostStatus(log);
      RunStage(engine, clock, m_nIapStage, 3, 3, true);
      clock.Sleep(2000);
      RunStage(engine, clock, m_nIapStage, 4, 3, true);
      log += "升级失败!!!\r\n";
    }
    transport->SetSink(manager);
  }
  m_nIapStage = 5;
  PostStatus(log);
  PostMessage(kMsgButtons, 1);
  // The last lines say which step failed.
  std::string failure = log;
  size_t keep = failure.size();
  for (int lines = 0; lines < 3 && keep != std::string::npos && keep > 0; ++lines) keep = failure.rfind("\r\n", keep - 1);
  if (keep != std::string::npos && keep > 0) failure = failure.substr(keep + 2);
  EndUpgrade(succeeded, WithPortFailure(failure));
}

void DialogUpdate::EndUpgrade(bool succeeded, const std::string& failure) {
  {
    std::lock_guard<std::mutex> lock(m_textMutex);
    m_strUpgradeFailure = succeeded ? std::string() : failure;
  }
  PostMessage(kMsgUpgradeEnd, succeeded ? 1 : 0);
}

}  // namespace hu
