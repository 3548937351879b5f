// A language file through all it reaches: the catalogue, placeholders, references, every window.
#include <cstddef>
#include <cstdint>

#include "core/FormTranslation.h"
#include "core/IniFile.h"
#include "core/MessageList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    const IniFile file = IniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    TMsgList msgs;
    msgs.LoadCatalogue(file);

    static const std::vector<std::string> params = {"/srv/a^b^c.txt", "^Msg014^, ^Msg016^", "%s%n%d", "4"};
    for (const auto& id : msgs.Ids()) {
        msgs.FormatMsg(id, params);
        msgs.ExpandMsgRefs(msgs.GetMsg(id));
    }
    for (const FormCaptions* form : AllFormCaptions()) {
        const FormTranslation translation(*form, &file);
        for (const auto& text : form->OwnTexts) FillPlaceholders(translation.Text(text.Key), params);
    }
    return 0;
}
