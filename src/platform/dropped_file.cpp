// Files dropped on the host window, into the RAM file system.
#include "dropped_file.h"

#include <cstdio>
#include <string>

#include "buffer.h"
#include "messages.h"
#include "paths.h"
#include "pfile.h"

namespace {

inline constexpr const char *DROP_FOLDER = "/ram/drop/";
inline constexpr const char *EMPTY_DROP_NOTICE =
    "** dropping folders (and size zero files) currently not supported **";

}  // namespace

void process_dropped_file(const char *host_path) {
    if (!host_path) return;
    const char *name = host_path;
    for (const char *c = host_path; *c; c++)
        if (*c == '/' || *c == '\\') name = c + 1;
    char dest[DROP_PATH_MAX + 1];
    std::snprintf(dest, sizeof dest, "%s%s", DROP_FOLDER, name);
    for (char *c = dest; *c; c++)
        if (!is_path_char(static_cast<unsigned char>(*c))) *c = '_';

    // The host file is read before a file slot is taken, so that an
    // unreadable or empty file leaves the file system as it was.
    buffer_rec *contents = create_buffer_from_file(host_path);
    if (!contents) return;
    if (contents->length == 0) {  // also what a folder reads as
        destroy_buffer(contents);
        notify(EMPTY_DROP_NOTICE);
        return;
    }
    // A name the file system would drop while collapsing the path (one
    // segment too long) would store the file as the folder itself.
    std::string canonical;
    pfile_rec *f = nullptr;
    if (pdisk_normalise(dest, &canonical) && canonical == dest) f = pfopen(dest, "wf");
    if (!f) {
        destroy_buffer(contents);
        return;
    }
    destroy_buffer(f->data);
    f->data = contents;
    pfclose(f);
    send_event("{event=\"drop_items\",items={{pod_type=\"file_reference\",fullpath=\"", dest,
               "\"}}}");
}
