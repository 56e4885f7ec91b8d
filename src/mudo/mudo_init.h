/*
** The audio engine's start: what start-up calls on every (re)boot. C linkage.
*/
#ifndef QUILLMAR_MUDO_MUDO_INIT_H
#define QUILLMAR_MUDO_MUDO_INIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Initialises the mixer; only the first call of a run does anything. */
void mudo_init(void);

#ifdef __cplusplus
}
#endif

#endif
