#pragma once

#include "engine/TaskTypes.h"

// Constants the whole program shares.
namespace tarn {

// The registry stand-in: QSettings of this organisation and application.
inline constexpr char RegistryOrganization[] = "Brenvik";
inline constexpr char RegistryApplication[] = "Tarnwell";

inline constexpr char ProgramName[] = "Tarnwell";
inline constexpr char ExecutableName[] = "tarn";
// Names the single-instance lock and the hand-over socket.
inline constexpr char AppGUID[] = "{3B8F2C41-7A5D-4E19-9C06-D2E47A1B5F83}";

inline constexpr char MakerNotice[] = "Copyright (c) Brenvik. All rights reserved.";
inline constexpr char MakerWebAddress[] = "https://www.brenvik.example/tarnwell/";
inline constexpr char MakerSupportAddress[] = "support@brenvik.example";

// Language files: RootDir + LangDir + language + "." + LangExt. Help pages:
// RootDir + HelpDir + language + "/" + topic, the topics below.
inline constexpr char DefaultLanguage[] = "English";
inline constexpr char LangDir[] = "Lang/";
inline constexpr char LangExt[] = "lng";
inline constexpr char HelpDir[] = "Help/";
inline constexpr char HelpTopicIntroduction[] = "html/Introduction.html";
inline constexpr char HelpTopicSettingsGeneral[] = "html/Settings_General.html";
inline constexpr char HelpTopicSettingsTask[] = "html/Settings_Task.html";
inline constexpr char HelpTopicSettingsRestore[] = "html/Settings_Restore.html";

// Installed data folder (Lang/, Help/) relative to the folder of the executable.
inline constexpr char InstalledDataDir[] = "../share/tarnwell/";

}  // namespace tarn
