/*
** Folder listing: the names in one virtual folder, folders first, in
** natural order.
*/
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct lua_State;

/* At most this many names are gathered for one listing, from at most
   LIST_HOST_NAMES_MAX names a host folder gives (its hidden names and
   those of mount points left out among them). */
inline constexpr size_t LIST_NAMES_MAX = 65536;
inline constexpr size_t LIST_HOST_NAMES_MAX = 4 * LIST_NAMES_MAX;

/*
** Listing order of two names, a total order: a name ending in '/' (a
** folder) first; then, without that '/', digit runs compare by value (any
** length), other characters case-folded, digit runs before other
** characters, a name that ends first before a longer one; names equal so
** far are ordered by their bytes. 0 only for equal names.
*/
int pdisk_compare_names(std::string_view a, std::string_view b);

/* The same as a qsort comparator over pointers to NUL-terminated names. */
int compare_str_item(const void *a, const void *b);

/* What a listing went through besides the names it gave. */
struct pdisk_list_work {
    size_t host_entries;  /* names the host listed, each tested for a folder */
    size_t walked;        /* RAM files and mounts looked at */
};

/*
** The sorted, distinct names in the folder at 'path' (folders with a
** trailing '/') into *names, and the number of folders into *folders;
** false for an illegal or unresolvable path or a host folder that cannot
** be listed. *work (when given) receives what the listing went through.
*/
bool pdisk_list(const char *path, std::vector<std::string> *names, int *folders, pdisk_list_work *work = nullptr);

/*
** Pushes the listing of 'path' as a table of names (without the trailing
** '/') and the folder count, and returns 2; returns 0 and pushes nothing
** for a path pdisk_list refuses. *work (when given) receives what it went
** through.
*/
int pflist(const char *path, lua_State *L, pdisk_list_work *work = nullptr);
