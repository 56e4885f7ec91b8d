// pxu records of typed arrays: writing an array's elements, and making and
// filling an array from a record.
#include "pxu_lua.h"

#include "pxu.h"

namespace {

// Most elements one input byte of a coded body can stand for (a code's run
// field, or an extension byte of 255), with room for the first code.
inline constexpr uint64_t kElementsPerCodeByte = 256;

}  // namespace

int64_t write_binary_pxu(const typed_ud_rec *rec, buffer_rec *out, int bits) {
    const pxu_head head{static_cast<uint8_t>(rec->type & 63),
                        static_cast<uint8_t>(rec->dims >= 1 && rec->dims <= 3 ? rec->dims : 1),
                        0,
                        rec->width,
                        rec->height,
                        rec->depth};
    return pxu_write(&head, ud_elements(const_cast<typed_ud_rec *>(rec)), out, bits);
}

const char *get_binary_pxu(lua_State *L, const char *p, const char *end) {
    const auto *u = reinterpret_cast<const uint8_t *>(p);
    const auto *uend = reinterpret_cast<const uint8_t *>(end);
    pxu_head head;
    const uint8_t *body = pxu_read_head(u, uend, &head);
    if (!body) return nullptr;
    const uint64_t count = pxu_element_count(&head);
    // Refuse bodies that cannot hold the elements before allocating for them.
    const uint64_t left = static_cast<uint64_t>(uend - body);
    if (head.format == PXU_UNCODED && left < count) return nullptr;
    if (head.format == PXU_CODED && count / kElementsPerCodeByte > left) return nullptr;

    typed_ud_rec *rec = create_userdata(L, get_utype_string(head.type), head.dims, head.width,
                                        head.height, head.depth, nullptr);
    if (!rec) return nullptr;
    // The constructor may have kept fewer elements than the record holds
    // (one dimension drops the height): fill only what the array has.
    const uint64_t room = ud_count(rec) * utype_size(ud_type(rec));
    if (room < count) {
        lua_pop(L, 1);
        return nullptr;
    }
    const uint8_t *after = pxu_read_body(&head, body, uend, ud_elements(rec), count);
    if (!after) {
        lua_pop(L, 1);
        return nullptr;
    }
    return reinterpret_cast<const char *>(after);
}
