#include "sysmend/app/update_checker.h"

#include <cstdio>

#include "common/platform/trace.h"
#include "sysmend/app/packs_shearcher.h"
#include "sysmend/packages/kvq_parser.h"
#include "sysmend/packages/kvq_unzip.h"
#include "sysmend/packages/pack_unzip.h"

namespace hu {
namespace {

const char kAppDir[] = "\\dravik\\$KVR$\\App";

int SlotOfKind(uint32_t kind) {
  switch (kind) {
    case kPackBoot: return kSlotBoot;
    case kPackConf: return kSlotConf;
    case kPackLogo1: return kSlotLogo1;
    case kPackLogo2: return kSlotLogo2;
    case kPackLogo3: return kSlotLogo3;
    case kPackOs: return kSlotOs;
    case kPackApp:
    case kPackIncremental: return kSlotApp;
    default: return -1;
  }
}

const char* LabelOfKind(uint32_t kind) {
  switch (kind) {
    case kPackBoot: return "boot File";
    case kPackConf: return "kvr File";
    case kPackLogo1:
    case kPackLogo2:
    case kPackLogo3: return "logo File";
    case kPackOs: return "os File";
    default: return "auk File";
  }
}

bool IsDirectory(Files& files, const std::string& path) {
  uint32_t a = files.GetAttributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::string VerdictLine(const char* label, const char* verdictText, const std::string& version) {
  return std::string(label) + " " + verdictText + " (ver: " + version + ")";
}

bool UpdatePlan::AnySlot() const {
  for (const PackSlot& s : slots) {
    if (s.present) return true;
  }
  return false;
}

bool UpdatePlan::OnlyAppSlot() const {
  for (int i = 0; i < kSlotCount; ++i) {
    if (slots[i].present != (i == kSlotApp)) return false;
  }
  return true;
}

UpdateChecker::UpdateChecker(Files& files, CodePage& codePage, Registry& registry, InstalledVersions& installed)
    : files_(files), codePage_(codePage), registry_(registry), installed_(installed) {}

int UpdateChecker::GetCPUType() {
  std::string cpu;
  if (std::unique_ptr<RegKey> key = registry_.OpenKey("SOFTWARE\\Dravik\\Os")) key->QueryString("CPU_TYPE", &cpu);
  Trace("CSysmendDlg::GetCPUType wcszKeyValue = %s \n", cpu.c_str());
  return AsciiLower(cpu.substr(0, 5)) == "mstar" ? 1 : 0;
}

uint32_t UpdateChecker::OsGeneration(const std::string& osVersion) {
  if (GetCPUType() == 1) return 1;
  std::u16string wide = Utf8ToUtf16(osVersion);
  if (wide.size() < 7) return 0;
  char16_t c = wide[6];
  int digit = (c >= u'0' && c <= u'9') ? c - u'0' : 0;
  return (digit & 2) ? 1 : 0;
}

uint32_t UpdateChecker::AppGeneration(const std::string& appVersion) {
  return !appVersion.empty() && (appVersion[0] == 'V' || appVersion[0] == 'v') ? 1 : 0;
}

bool UpdateChecker::CheckUpdatePacks(std::vector<PackInfo>* packs, bool autoMode) {
  if (packs == nullptr) return false;
  m_pVerChecker = std::make_unique<CPublicVerChecker>(files_);
  m_osCandidates.clear();
  m_appCandidates.clear();
  m_containerAppOnly.clear();
  m_nLocalOsGeneration = OsGeneration(installed_.ReadOSVer());
  std::string localApp = installed_.ReadAppVer();
  m_nLocalAppGeneration = localApp.empty() ? (m_nLocalOsGeneration == 1 ? 1 : 0) : AppGeneration(localApp);

  for (PackInfo& info : *packs) {
    Trace("\n CSysmendDlg::CheckUpdatePacks packPath = %s\n", info.path.c_str());
    std::string title = FileTitleOf(info.path);
    switch (info.kind) {
      case kPackConf: {
        std::string local = installed_.ReadConfVer();
        Trace("\n CSysmendDlg::CheckUpdatePacks strConfLocalVer = %s strConfUpdateVer = %s \n", local.c_str(),
              title.c_str());
        info.flag = local.empty() ? kVerdictUnknownLocal : m_pVerChecker->CheckKvrVer(local, title, autoMode);
        break;
      }
      case kPackOs: {
        std::string local = installed_.ReadOSVer();
        Trace("\n CSysmendDlg::CheckUpdatePacks strOSLocalVer = %s strOSUpdateVer = %s \n", local.c_str(),
              title.c_str());
        if (local.empty()) {
          info.flag = kVerdictUnknownLocal;
          break;
        }
        info.flag = m_pVerChecker->CheckOSVer(local, title, autoMode);
        uint32_t generation = OsGeneration(title);
        if (info.flag == kVerdictValid && generation != m_nLocalOsGeneration) {
          info.flag = kVerdictOsGeneration;
          m_osCandidates.push_back(UpdateCandidate{generation, info.path, false});
        }
        break;
      }
      case kPackApp: {
        std::string update = ReadPackAppVer(files_, codePage_, info.path);
        std::string local = installed_.ReadAppVer();
        Trace("\n CSysmendDlg::CheckUpdatePacks strAppLocalVer = %s strAppUpdateVer = %s \n", local.c_str(),
              update.c_str());
        uint32_t generation = AppGeneration(update);
        if (generation != m_nLocalAppGeneration) {
          info.flag = kVerdictAppGeneration;
          m_appCandidates.push_back(UpdateCandidate{generation, info.path, false});
        } else {
          info.flag = autoMode ? m_pVerChecker->CheckAppVer(local, update, true) : kVerdictValid;
        }
        break;
      }
      case kPackIncremental: {
        CPackUnzip pack(files_, codePage_, info.path);
        if (!pack.OpenZipPack()) {
          // An archive that cannot be read is not installable.
          info.flag = kVerdictInvalidPack;
          break;
        }
        std::string update = ReadPackAppVer(files_, codePage_, info.path);
        std::string local = installed_.ReadAppVer();
        Trace("\n CSysmendDlg::CheckUpdatePacks strAppLocalVer = %s strAppUpdateVer = %s \n", local.c_str(),
              update.c_str());
        info.flag = autoMode ? m_pVerChecker->CheckAppVer(local, update, true) : kVerdictValid;
        break;
      }
      case kPackContainer:
        CheckContainer(info, autoMode);
        break;
      case kPackBoot: {
        std::string local = installed_.ReadBootVer();
        Trace("\n CSysmendDlg::CheckUpdatePacks strBootLocalVer = %s strBootUpdateVer = %s \n", local.c_str(),
              title.c_str());
        info.flag = local.empty() ? kVerdictUnknownLocal : m_pVerChecker->CheckBootVer(local, title, autoMode);
        break;
      }
      default:
        break;  // logos have no version to check
    }
  }
  return true;
}

void UpdateChecker::CheckContainer(PackInfo& info, bool autoMode) {
  CKvqUnzip kvqChecker(files_, codePage_, installed_);
  kvqChecker.SetVerChecker(m_pVerChecker.get());
  if (!kvqChecker.Open(info.path)) {
    info.flag = kVerdictInvalidPack;
    return;
  }
  CKvqParser& parser = *kvqChecker.m_pKvqParser;
  bool appOnly = false;
  uint32_t appGeneration = 0;
  uint32_t osGeneration = 0;
  if (parser.IsHasApp()) {
    info.flag = kvqChecker.CheckAppVer(autoMode);
    if (info.flag != kVerdictValid) return;
    appOnly = true;
    std::string v;
    parser.GetAppVer(&v);
    appGeneration = AppGeneration(v);
  }
  if (parser.IsHasBoot()) {
    info.flag = kvqChecker.CheckBootVer(autoMode);
    if (info.flag == kVerdictValid) {
      appOnly = false;
    } else if (info.flag != kVerdictSameBoot) {
      m_containerAppOnly[info.path] = false;
      return;
    }
  }
  if (parser.IsHasOS()) {
    Trace("kvqChecker.m_pKvqParser->IsHasOS() \r\n");
    info.flag = kvqChecker.CheckOSVer(autoMode);
    if (info.flag == kVerdictValid) {
      appOnly = false;
    } else if (info.flag != kVerdictSameOs) {
      m_containerAppOnly[info.path] = false;
      return;
    }
    std::string v;
    parser.GetOSVer(&v);
    osGeneration = OsGeneration(v);
  }
  if (appOnly) info.flag = kVerdictValid;
  m_containerAppOnly[info.path] = appOnly;
  // Generations can only turn a valid container into a mismatch: a container
  // refused for carrying the installed versions stays refused, or an automatic
  // run would write the same images again at every start.
  if (info.flag != kVerdictValid) return;
  if (parser.IsHasOS() && parser.IsHasApp()) {
    info.flag = osGeneration != appGeneration ? kVerdictOsAppMismatch : kVerdictValid;
  } else if (parser.IsHasOS()) {
    info.flag = osGeneration != m_nLocalOsGeneration ? kVerdictOsAppMismatch : kVerdictValid;
  } else if (parser.IsHasApp()) {
    info.flag = appGeneration != m_nLocalOsGeneration ? kVerdictOsAppMismatch : kVerdictValid;
  }
}

void UpdateChecker::FillFromContainer(const PackInfo& info, UpdatePlan* plan) {
  CKvqParser parser(files_, codePage_);
  if (!parser.IsVaildKvrFile(info.path)) return;
  auto fill = [&](SectionKind kind, int slot, bool withVersion) {
    SectionRecord record;
    if (!parser.GetSectionInfo(kind, &record)) return false;
    PackSlot& s = plan->slots[slot];
    s.present = true;
    s.path = info.path;
    s.offset = record.offset;
    s.length = record.length;
    s.version.clear();
    if (withVersion) {
      switch (kind) {
        case SectionKind::App: parser.GetAppVer(&s.version); break;
        case SectionKind::Os: parser.GetOSVer(&s.version); break;
        case SectionKind::Boot: parser.GetBootVer(&s.version); break;
        case SectionKind::Conf: parser.GetConfVer(&s.version); break;
        default: break;
      }
    }
    return true;
  };
  if (parser.IsHasApp() && fill(SectionKind::App, kSlotApp, true)) plan->hasContainer = true;
  auto it = m_containerAppOnly.find(info.path);
  bool appOnly = it != m_containerAppOnly.end() && it->second;
  if (appOnly) return;
  fill(SectionKind::Os, kSlotOs, true);
  fill(SectionKind::Boot, kSlotBoot, true);
  fill(SectionKind::Conf, kSlotConf, true);
  fill(SectionKind::Logo1, kSlotLogo1, false);
  fill(SectionKind::Logo2, kSlotLogo2, false);
  fill(SectionKind::Logo3, kSlotLogo3, false);
}

void UpdateChecker::PairCandidates(UpdatePlan* plan) {
  for (UpdateCandidate& os : m_osCandidates) {
    for (UpdateCandidate& app : m_appCandidates) {
      if (os.used || app.used || app.generation != os.generation) continue;
      PackSlot& osSlot = plan->slots[kSlotOs];
      osSlot.present = true;
      osSlot.path = os.path;
      osSlot.offset = 0;
      osSlot.length = FileSizeOf(files_, os.path);
      osSlot.version = FileTitleOf(os.path);
      PackSlot& appSlot = plan->slots[kSlotApp];
      appSlot.present = true;
      appSlot.path = app.path;
      appSlot.offset = 0;
      appSlot.length = FileSizeOf(files_, app.path);
      appSlot.version = ReadPackAppVer(files_, codePage_, app.path);
      os.used = app.used = true;
      plan->lines.push_back({VerdictLine("os file", VerdictText(kVerdictValid), osSlot.version), 0});
      plan->lines.push_back({VerdictLine("auk file", VerdictText(kVerdictValid), appSlot.version), 0});
    }
  }
  for (const UpdateCandidate& os : m_osCandidates) {
    if (!os.used) {
      plan->lines.push_back({VerdictLine("os file", VerdictText(kVerdictOsGeneration), FileTitleOf(os.path)), 255});
    }
  }
  for (const UpdateCandidate& app : m_appCandidates) {
    if (!app.used) {
      plan->lines.push_back(
          {VerdictLine("auk file", VerdictText(kVerdictAppGeneration), ReadPackAppVer(files_, codePage_, app.path)),
           255});
    }
  }
  plan->osCandidates = m_osCandidates;
  plan->appCandidates = m_appCandidates;
}

void UpdateChecker::ComposeVerdictLines(const std::vector<PackInfo>& packs, UpdatePlan* plan) {
  for (const PackInfo& info : packs) {
    if (info.flag == kVerdictOsGeneration || info.flag == kVerdictAppGeneration) continue;
    uint32_t color = info.flag == kVerdictValid ? 0 : 255;
    std::string title = FileTitleOf(info.path);
    if (info.kind == kPackContainer) {
      plan->lines.push_back({std::string("kvq file ") + VerdictText(info.flag) + " (name:" + title + ")", color});
      std::string version;
      CKvqParser parser(files_, codePage_);
      if (parser.IsVaildKvrFile(info.path)) parser.GetKvrVer(&version);
      plan->lines.push_back({"kvq File ver:" + version, color});
    } else {
      plan->lines.push_back({VerdictLine(LabelOfKind(info.kind), VerdictText(info.flag), title), color});
    }
  }
}

uint32_t UpdateChecker::CountKvrapp(const std::string& folder) {
  FindData entry;
  std::unique_ptr<FindHandle> find = files_.FindFirst(folder + "\\*.*", &entry);
  if (!find) return 0;
  uint32_t count = 0;
  do {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      count += CountKvrapp(folder + "\\" + entry.name);
    } else {
      ++count;
    }
  } while (find->Next(&entry));
  return count;
}

void UpdateChecker::ChooseSteps(UpdatePlan* plan) {
  bool appPending = plan->slots[kSlotApp].present || plan->loosePack;
  plan->selectedStep = 0;
  if (IsDirectory(files_, kAppDir)) {
    plan->stepLayout = appPending ? 5 : 4;
    plan->formatBox = appPending ? UpdatePlan::FormatBox::Ticked : UpdatePlan::FormatBox::Disabled;
  } else if (appPending && plan->OnlyAppSlot()) {
    plan->stepLayout = 5;
    plan->selectedStep = 6;
    plan->directUpdate = true;
    plan->formatBox = UpdatePlan::FormatBox::Disabled;
  } else {
    plan->stepLayout = 4;
    if (appPending) plan->formatBox = UpdatePlan::FormatBox::Disabled;
  }
}

bool UpdateChecker::PreparePackSlots(std::vector<PackInfo>* packs, const std::string& updatePacksPath,
                                     UpdatePlan* plan) {
  if (packs == nullptr) return false;
  bool containerUsed = false;
  for (PackInfo& info : *packs) {
    if (info.kind != kPackContainer || info.flag != kVerdictValid) continue;
    if (containerUsed) {
      info.flag = kVerdictIgnored;
      continue;
    }
    containerUsed = true;
    FillFromContainer(info, plan);
  }
  for (PackInfo& info : *packs) {
    if (info.kind == kPackContainer) continue;
    int slot = SlotOfKind(info.kind);
    if (slot < 0 || info.flag != kVerdictValid) continue;
    bool appKind = info.kind == kPackApp || info.kind == kPackIncremental;
    if (appKind && !containerUsed) {
      plan->loosePack = true;
      plan->loosePacks.push_back(info.path);
    }
    bool wasPresent = plan->slots[slot].present;
    FillSlotFromPack(files_, plan->slots[slot], info);
    if (!wasPresent && plan->slots[slot].present) {
      plan->slots[slot].version = appKind ? ReadPackAppVer(files_, codePage_, info.path) : FileTitleOf(info.path);
    }
  }
  PairCandidates(plan);
  if (containerUsed) {
    plan->loosePack = false;
    plan->loosePacks.clear();
  }
  ComposeVerdictLines(*packs, plan);
  plan->kvrappCount = CountKvrapp(updatePacksPath + "\\kvrapp");
  if (plan->kvrappCount > 0) {
    char text[96];
    std::snprintf(text, sizeof text,
                  plan->kvrappCount == 1 ? "There is %d file in kvrapp dir to copy to app dir !"
                                         : "There are %d files in kvrapp dir to copy to app dir !",
                  static_cast<int>(plan->kvrappCount));
    Trace("%s", text);
    plan->lines.push_back({text, 0});
  }
  ChooseSteps(plan);
  return plan->AnySlot() || plan->kvrappCount > 0;
}

}  // namespace hu
