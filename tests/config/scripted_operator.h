// Stands in for the operator: records every box and answers from a script.
#pragma once

#include "platform/message_box.h"

#include <deque>
#include <vector>

namespace ufd::testing {

class ScriptedOperator {
public:
    explicit ScriptedOperator(std::deque<int> answers = {}) : answers_(std::move(answers)) {
        SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            seen.push_back(request);
            if (answers_.empty()) {
                return kAnswerOk;
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
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

private:
    std::deque<int> answers_;
};

} // namespace ufd::testing
