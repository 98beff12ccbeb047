// qvreport: a Quorvis report from the command line.
#include "cli/report_command.h"

int main(int argc, char** argv) { return ReportMain(argc, argv); }
