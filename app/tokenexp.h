/* The token export run: command line, inputs, section walk, encryption and
 * output, with one clean-up sequence on every exit path. */
#ifndef TOKENEXP_H
#define TOKENEXP_H

/* Run one whole export job; returns the process exit status (0 or 1). */
int tokenexp_main(int argc, char **argv);

#endif
