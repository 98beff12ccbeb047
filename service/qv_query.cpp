#include "service/qv_query.h"

#include "service/data_access_error.h"
#include "service/ui_call_waiter.h"

#include <QString>

namespace {

constexpr char kClosing[] = "the viewer is closing";

QString PurposeOf(const QueryRequest& request) {
    switch (static_cast<QueryKind>(request.kind)) {
        case QueryKind::Users: return QStringLiteral("users");
        case QueryKind::Computers: return QStringLiteral("computers");
        case QueryKind::Programs: return QStringLiteral("programs");
        case QueryKind::ProgramDetails: return QStringLiteral("windows of program %1").arg(request.programId);
    }
    return QStringLiteral("query of kind %1").arg(request.kind);
}

QString PurposeOf(const ProgramInfoRequest& request) {
    return QStringLiteral("information on program %1").arg(request.programId);
}

template <typename Request, typename Operation>
RecordsetPtr Run(IQVQuery* service, const Request& request, Operation operation) {
    if (!service) throw DataAccessError(E_POINTER, "not connected to the Quorvis Service");
    if (ServiceCallsAbandoned()) throw DataAccessError(E_ABORT, kClosing);
    RecordsetPtr result;
    HRESULT status = S_OK;
    {
        const ScopedCallPurpose purpose(PurposeOf(request));
        status = (service->*operation)(request, result);
    }
    // The viewer began to close while the call was pending: nobody waits
    // for the answer any more.
    if (ServiceCallsAbandoned()) throw DataAccessError(E_ABORT, kClosing);
    CheckStatus(status, service->ErrorDescription());
    if (!result) throw DataAccessError(E_POINTER, "the service answered without a result set");
    return result;
}

}  // namespace

RecordsetPtr RunQuery(IQVQuery* service, const QueryRequest& request) {
    return Run(service, request, &IQVQuery::Query);
}

RecordsetPtr RunProgramInfoQuery(IQVQuery* service, const ProgramInfoRequest& request) {
    return Run(service, request, &IQVQuery::QueryProgramInfo);
}
