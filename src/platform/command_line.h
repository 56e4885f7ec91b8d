/*
** The command line: -home, -x, -use_system_rom and the launch argument.
** C linkage.
*/
#ifndef QUILLMAR_PLATFORM_COMMAND_LINE_H
#define QUILLMAR_PLATFORM_COMMAND_LINE_H

#ifdef __cplusplus
extern "C" {
#endif

/*
** Applies arguments 1 to argc-1 to `config`, in order:
** - "-home..." (first 5 characters): the next argument, when plain, is the
**   application-data folder, copied into home_path and created with every
**   missing parent;
** - "-x...": headless = 1; "-use_system_rom...": use_system_rom = 1;
** - any other "-..." option: the next argument, when plain, is skipped;
** - an argument beginning with '>', '|' or '&' ends the parsing;
** - any other plain argument is the launch argument (the last one wins).
** An option that follows "-home" or a skipping option replaces what they
** asked of the next argument. Texts are cut to 1023 characters.
*/
void process_arguments(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
