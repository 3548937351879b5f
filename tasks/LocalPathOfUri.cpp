#include "tasks/LocalPathOfUri.h"

#include <gio/gio.h>

#include <cstring>

namespace tarn {
namespace {

// The URI as the user may see it: without its password.
std::string Shown(const std::string& uri)
{
    const auto flags = static_cast<GUriFlags>(G_URI_FLAGS_HAS_PASSWORD | G_URI_FLAGS_ENCODED);
    GUri* parsed = g_uri_parse(uri.c_str(), flags, nullptr);
    if (!parsed) return uri;
    char* text = g_uri_to_string_partial(parsed, G_URI_HIDE_PASSWORD);
    g_uri_unref(parsed);
    std::string shown(text);
    g_free(text);
    return shown;
}

}  // namespace

std::optional<std::string> LocalPathOfUri(const std::string& uri, std::string& whyNot)
{
    if (uri.starts_with('/')) return uri;
    const char* scheme = g_uri_peek_scheme(uri.c_str());
    if (!scheme) {
        whyNot = uri + " is neither a path nor an address";
        return std::nullopt;
    }
    // For a remote URI GIO asks the GVFS daemon for the mount that holds it; NULL when there is
    // none, or no FUSE mount to reach it by.
    GFile* file = g_file_new_for_uri(uri.c_str());
    char* path = g_file_get_path(file);
    g_object_unref(file);
    if (path) {
        std::string local(path);
        g_free(path);
        return local;
    }
    if (std::strcmp(scheme, "file") == 0) {
        whyNot = Shown(uri) + " is not a valid file address";
    } else {
        whyNot = Shown(uri) + " is not mounted: open it in the file manager first, then drop it again";
    }
    return std::nullopt;
}

}  // namespace tarn
