#pragma once

#include "ui/common/FileChooser.h"

#include <vector>

namespace zul::test {

// Answers every file-open request with answer and keeps the requests.
class ScriptedChooser : public ui::FileChooser {
public:
    QString answer;
    std::vector<ui::OpenRequest> requests;
    QString showOpen(const ui::OpenRequest& request, QWidget*) override
    {
        requests.push_back(request);
        return answer;
    }
};

} // namespace zul::test
