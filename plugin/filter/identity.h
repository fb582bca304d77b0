// identity.h: the words the module uses to name itself. Kept as literals so
// that the library description can be composed from them at compile time.
#pragma once

#define KESTRION_PRODUCT_NAME "Kestrion"
#define KESTRION_AUTHOR_CREDIT "Mara Lindqvist (kestrel)"
#define KESTRION_COPYRIGHT_NOTICE "Copyright (c) 2026 Kestrion Labs"
