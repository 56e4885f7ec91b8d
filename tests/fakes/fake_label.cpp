// The image cartridge's label text where the graphics layer is not linked:
// nothing is rendered.
#include <cstddef>
#include <cstdint>

extern "C" __attribute__((weak)) int extract_label_text(const uint8_t *, size_t, uint8_t *) { return 0; }
