// qvviewer: the Quorvis activity viewer.
#include "app/qv_viewer_app.h"
#include "app/viewer_command_line.h"

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode = AnswerInfoOptions(argc, argv, stdout)) return *exitCode;
    CQVViewerApp app(argc, argv);
    return app.Run();
}
