// make-cart-template OUT.png: writes the image cartridge template.
#include <lodepng.h>

#include <cstdio>

#include "cart_template.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: make-cart-template OUT.png\n", stderr);
        return 1;
    }
    const std::vector<uint8_t> px = draw_cart_template();
    const unsigned err = lodepng_encode32_file(argv[1], px.data(), 512, 384);
    if (err) {
        std::fprintf(stderr, "make-cart-template: %s\n", lodepng_error_text(err));
        return 1;
    }
    return 0;
}
