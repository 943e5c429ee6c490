// Stands in for the operator: records every box and answers OK.
#pragma once

#include "platform/message_box.h"

namespace ufd::testing {

class ScriptedOperator {
public:
    ScriptedOperator() {
        SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            seen.push_back(request);
            return kAnswerOk;
        });
    }
    ~ScriptedOperator() { SetMessageBoxHandler({}); }
    ScriptedOperator(const ScriptedOperator&) = delete;
    ScriptedOperator& operator=(const ScriptedOperator&) = delete;

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto& request : seen) {
            texts.push_back(request.text);
        }
        return texts;
    }

    std::vector<MessageBoxRequest> seen;
};

} // namespace ufd::testing
