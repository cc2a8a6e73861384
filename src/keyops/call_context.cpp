#include "keyops/call_context.h"

namespace keyops {

bool finishStep(CallContext& context, const Step& step, bool succeeded, DWORD error) {
    if (succeeded) {
        diagnostics::writeLog(step.success, context.log);
        return true;
    }
    if (step.failure != nullptr)
        diagnostics::writeLogFormatted(step.failure, context.log, static_cast<unsigned>(error));
    context.outcome.record(step.status, step.name, error);
    return false;
}

void recordInStatusWords(const Outcome& outcome) {
    if (outcome.recorded()) diagnostics::recordStatus(outcome.code());
    if (outcome.providerError()) diagnostics::recordProviderError(*outcome.providerError());
}

}  // namespace keyops
