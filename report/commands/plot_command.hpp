#pragma once

// lubench-report plot DOC... --out FILE.svg|FILE.png: saved documents of every kind drawn.
// Returns the exit status: 0 drawn and written; 64 a usage error, a document that is not one or
// holds nothing to draw, or gnuplot missing; 1 gnuplot failed or an output could not be written.
// argv[0] is "plot".
int runPlot(int argc, char** argv);
