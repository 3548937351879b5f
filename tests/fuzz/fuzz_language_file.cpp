// Feeds arbitrary bytes to the language-file reader and through everything a language file
// reaches: the catalogue, the placeholder filling of every text, reference expansion, and the
// translation of every window.
#include <cstddef>
#include <cstdint>
#include <string_view>

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
