#pragma once

#include "tiledpictures.h"

// A project's errors against LDtk's own JSON schema (draft-07), as python3-jsonschema finds them.
inline QString ldtkSchemaErrors(const QString& project) {
    const TilvexResult run = runTool(QStringLiteral("/usr/bin/python3"),
                                     {"-c",
                                      "import json, sys, jsonschema\n"
                                      "schema = json.load(open(sys.argv[1]))\n"
                                      "for e in jsonschema.Draft7Validator(schema).iter_errors(json.load(open(sys.argv[2]))):\n"
                                      "    print(list(e.absolute_path), e.message[:200])\n",
                                      QStringLiteral(TILVEX_APP_TESTS) + "/ldtk/JSON_SCHEMA.json", project});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return run.out;
}

inline bool ldtkSchemaCheckable() { return runTool(QStringLiteral("/usr/bin/python3"), {"-c", "import jsonschema"}).status == 0; }
