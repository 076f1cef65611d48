#include "ui/common/RunConfirmation.h"

#include "platform/Text.h"

namespace zul::ui {

bool confirmRun(com::IErrorMessages& messages, const com::IEventStruct& event)
{
    com::Variant answer;
    if (platform::trim(event.text("BAEvent")).empty())
        answer = messages.HandleMessages({true, com::msg(5002), "C", std::int32_t{4}, "Please Confirm"});
    else
        answer = messages.HandleMessages({true, com::msg(5001), "C", std::int32_t{4}, "Please Confirm",
                                          event.Field("BAEvent"), event.Field("BAEntName")});
    return answer == com::Variant(true);
}

} // namespace zul::ui
