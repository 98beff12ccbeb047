// qvreport: a Quorvis report from the command line.
#include "report_command.h"

int main(int argc, char** argv) { return ReportMain(argc, argv); }
