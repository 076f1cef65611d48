#pragma once

// The runner reads scripts with the shared grammar and uses its names as its own.
#include "ftpscript/ScriptParser.h"

namespace zul::runner {

using ftpscript::Command;
using ftpscript::maskLine;
using ftpscript::ParseError;
using ftpscript::ParseResult;
using ftpscript::parseScript;
using ftpscript::splitWords;
using ftpscript::Verb;

} // namespace zul::runner
