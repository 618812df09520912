#pragma once

#include <QString>

struct AutotileResult;
struct CompileResult;
struct DrawMapResult;
struct ExportResult;
struct ExtrudeResult;
struct FileInfo;
struct OptimizeResult;
struct SplitResult;

// The line on stdout that sums up a command's run that ended well.
QString SummaryLine(const SplitResult& result);
QString SummaryLine(const CompileResult& result);
QString SummaryLine(const DrawMapResult& result, const QString& destination);
QString SummaryLine(const ExtrudeResult& result, int extrusion);
QString SummaryLine(const OptimizeResult& result, int extrusion, bool dryRun);
QString SummaryLine(const ExportResult& result, const QString& out, int extrusion);
QString SummaryLine(const AutotileResult& result, const QString& out);

// The lines of info on stdout for a file read well: the picture's, or one a map layer.
QString InfoLines(const FileInfo& info);
