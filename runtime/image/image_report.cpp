#include "image_report.h"

#include "core/runtime.h"

void image_report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runtime_report_args(format, args);
    va_end(args);
}
