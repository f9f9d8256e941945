#pragma once
// The eight sheets of the main window, in the order they are presented: PIN
// prompt, send text, chat window, team panel, read-once note, diagnostics,
// feedback, first-run welcome. Each row binds one AppState flag or item; the
// feedback sheet gets no AppState, only the submitter it sends with. The
// settings sheet is not among them: the detail pane presents it.

#include <memory>
#include <vector>

#include "views/sheet_host.h"

namespace corvane {

class FeedbackSubmitter;

std::vector<SheetRow> rootSheetRows(std::shared_ptr<const FeedbackSubmitter> feedback);

}  // namespace corvane
