// qvviewer: the Quorvis activity viewer.
#include "qv_viewer_app.h"

int main(int argc, char** argv)
{
    CQVViewerApp app(argc, argv);
    return app.Run();
}
