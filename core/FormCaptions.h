#pragma once

#include <span>
#include <string_view>

// The built-in English texts of every window that a language file translates, by the keys its
// section uses. Component keys are "component.property": "Caption" is a control's visible text
// (a window title, a tab's, group box's, label's, button's or check box's text, an action's
// menu text) and "Hint" its tool tip. The windows set these texts first and then apply their
// FormTranslation; the components keep these names as their object names.
namespace tarn {

struct CaptionText {
    const char* Key;
    const char* Text;
};

struct FormCaptions {
    const char* FormClass;  // the section of the language file
    const char* Caption;    // the window's title; nullptr when the section cannot change it
    std::span<const CaptionText> OwnTexts;    // texts the window keeps for its own use
    std::span<const CaptionText> Properties;  // "component.property" keys
};

extern const FormCaptions FormMainCaptions;
extern const FormCaptions FormSettingsCaptions;
extern const FormCaptions FormNewTaskCaptions;
extern const FormCaptions FormDelTaskCaptions;
extern const FormCaptions FormShutDownCaptions;
extern const FormCaptions FormDstFileExistsCaptions;
extern const FormCaptions FormScheduleCaptions;

// Every translated window, in the order above.
std::span<const FormCaptions* const> AllFormCaptions();

}  // namespace tarn
