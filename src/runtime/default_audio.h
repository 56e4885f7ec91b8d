/*
** What every new process finds in its audio memory: the default wavetables
** at 0xF78000 and the default instrument 0 at 0x40000.
*/
#ifndef QUILLMAR_RUNTIME_DEFAULT_AUDIO_H
#define QUILLMAR_RUNTIME_DEFAULT_AUDIO_H

#include "process.h"

/* Process 1 gets the wavetables written (the first process 1 of a run is
   left with its generator seeded and stepped past the noise); later
   processes copy them page-wise from the live process 1, or keep a zero
   region when there is none. */
void generate_default_wavetable(process_rec *rec);

/* Writes the default instrument's two nodes and the two wavetable
   descriptors into rec's memory. */
void generate_default_audio_data(process_rec *rec);

#endif
