#include "qv_query.h"

#include "data_access_error.h"

namespace {

template <typename Request, typename Operation>
RecordsetPtr Run(IQVQuery* service, const Request& request, Operation operation) {
    if (!service) throw DataAccessError(E_POINTER, "not connected to the Quorvis Service");
    RecordsetPtr result;
    HRESULT status = (service->*operation)(request, result);
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
