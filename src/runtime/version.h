/*
** The system's version text, as the start-up log and the boot screen show it.
*/
#pragma once

inline constexpr const char *QUILLMAR_VERSION = "0.1.0";
