// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobplan.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

const PlanStep *JobPlan::step(int number) const
{
    for (const PlanStep &step : steps) {
        if (step.number == number)
            return &step;
    }
    return nullptr;
}

QStringList JobPlan::inputFiles() const
{
    QStringList files{ deck };
    const QString dir = workDir + QLatin1Char('/');
    QStringList names{ QStringLiteral("fort.34"), QStringLiteral("fort.9") };
    for (const PlanStep &step : steps)
        names.append(step.input);
    for (const QString &name : std::as_const(names)) {
        if (QFileInfo(dir + name).isFile() && !files.contains(dir + name))
            files.append(dir + name);
    }
    return files;
}

QByteArray JobPlan::toJson() const
{
    QJsonArray list;
    for (const PlanStep &step : steps) {
        list.append(QJsonObject{
                { QStringLiteral("number"), step.number },
                { QStringLiteral("program"), step.program },
                { QStringLiteral("executable"), step.executable },
                { QStringLiteral("command"), QJsonArray::fromStringList(step.command) },
                { QStringLiteral("fallbackProgram"), step.fallbackProgram },
                { QStringLiteral("fallbackExecutable"), step.fallbackExecutable },
                { QStringLiteral("input"), step.input },
                { QStringLiteral("output"), step.output },
                { QStringLiteral("onlyWithoutFort9"), step.onlyWithoutFort9 },
                { QStringLiteral("mustLeaveFort9"), step.mustLeaveFort9 },
        });
    }
    const QJsonObject plan{ { QStringLiteral("deck"), deck },
                            { QStringLiteral("workDir"), workDir },
                            { QStringLiteral("output"), output },
                            { QStringLiteral("steps"), list } };
    return QJsonDocument(plan).toJson(QJsonDocument::Compact);
}

JobPlan JobPlan::fromJson(const QByteArray &json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    JobPlan plan;
    plan.deck = object.value(QStringLiteral("deck")).toString();
    plan.workDir = object.value(QStringLiteral("workDir")).toString();
    plan.output = object.value(QStringLiteral("output")).toString();
    const QJsonArray list = object.value(QStringLiteral("steps")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject item = value.toObject();
        PlanStep step;
        step.number = item.value(QStringLiteral("number")).toInt();
        step.program = item.value(QStringLiteral("program")).toString();
        step.executable = item.value(QStringLiteral("executable")).toString();
        for (const QJsonValue &word : item.value(QStringLiteral("command")).toArray())
            step.command.append(word.toString());
        step.fallbackProgram = item.value(QStringLiteral("fallbackProgram")).toString();
        step.fallbackExecutable = item.value(QStringLiteral("fallbackExecutable")).toString();
        step.input = item.value(QStringLiteral("input")).toString();
        step.output = item.value(QStringLiteral("output")).toString();
        step.onlyWithoutFort9 = item.value(QStringLiteral("onlyWithoutFort9")).toBool();
        step.mustLeaveFort9 = item.value(QStringLiteral("mustLeaveFort9")).toBool();
        // A step without what it runs is no step: the plan is not one.
        if (step.number < 1 || step.command.isEmpty() || step.input.isEmpty()
            || step.output.isEmpty())
            return JobPlan();
        plan.steps.append(step);
    }
    return plan;
}
