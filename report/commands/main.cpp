#include "report_main.hpp"

int main(int argc, char** argv) { return reportMain(argc, argv, {}); }
