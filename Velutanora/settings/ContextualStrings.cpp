// Vocabulary hints for the recogniser (a member of AppSettings, kept apart with its term lists).
#include "settings/AppSettings.h"

namespace vel {

namespace {

QStringList list(std::initializer_list<const char*> items)
{
    QStringList out;
    out.reserve(static_cast<qsizetype>(items.size()));
    for (const char* item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

struct Field {
    QStringList keywords;
    const QStringList& terms;
};

} // namespace

const QStringList& AppSettings::softwareTerms()
{
    static const QStringList terms = list({
        "Swift", "Python", "JavaScript", "TypeScript", "Rust", "Go", "Kotlin", "Ruby", "PHP", "Xcode",
        "GitHub", "GitLab", "Docker", "Kubernetes", "Terraform", "AWS", "Azure", "GCP", "Whisper",
        "SuperWhisper", "React", "Next.js", "Vue.js", "Angular", "SwiftUI", "UIKit", "Flutter", "Django",
        "Rails", "Node.js", "Express", "FastAPI", "Spring Boot", "Gemini", "Claude", "ChatGPT", "OpenAI",
        "LLM", "RAG", "Transformer", "API", "SDK", "CI/CD", "DevOps", "SaaS", "IaaS", "PaaS", "Git",
        "Pull Request", "Merge", "Branch", "Commit", "Deploy", "REST", "GraphQL", "WebSocket", "gRPC",
        "PostgreSQL", "MySQL", "Redis", "MongoDB", "SQLite", "JSON", "YAML", "TOML", "XML", "npm", "yarn",
        "pip", "Homebrew", "CocoaPods", "SPM", "IDE", "CLI", "GUI", "TDD", "DDD", "OAuth", "JWT", "SSL",
        "TLS", "HTTPS",
    });
    return terms;
}

const QStringList& AppSettings::medicalTerms()
{
    static const QStringList terms = list({
        "既往歴", "主訴", "現病歴", "所見", "予後", "CT", "MRI", "レントゲン", "エコー", "心電図", "血圧",
        "血糖値", "HbA1c", "コレステロール", "ヘモグロビン", "抗生物質", "ステロイド", "インスリン", "鎮痛剤",
        "糖尿病", "高血圧", "脳梗塞", "心筋梗塞", "肺炎", "内科", "外科", "整形外科", "皮膚科", "眼科",
        "耳鼻科", "カルテ", "レセプト", "DPC", "クリニカルパス",
    });
    return terms;
}

const QStringList& AppSettings::legalTerms()
{
    static const QStringList terms = list({
        "原告", "被告", "控訴", "上告", "抗告", "判決", "判例", "準備書面", "訴状", "答弁書", "損害賠償",
        "不法行為", "債務不履行", "契約解除", "民法", "刑法", "商法", "会社法", "労働基準法", "瑕疵担保",
        "善管注意義務", "信義則", "公序良俗", "登記", "公正証書", "内容証明", "示談", "和解",
    });
    return terms;
}

const QStringList& AppSettings::accountingTerms()
{
    static const QStringList terms = list({
        "貸借対照表", "損益計算書", "キャッシュフロー", "勘定科目", "仕訳", "元帳", "試算表", "減価償却",
        "繰延資産", "引当金", "棚卸資産", "売掛金", "買掛金", "未払金", "前受金", "法人税", "消費税",
        "所得税", "住民税", "事業税", "確定申告", "年末調整", "源泉徴収", "青色申告", "インボイス",
        "電子帳簿保存法", "e-Tax",
    });
    return terms;
}

QStringList AppSettings::contextualStrings() const
{
    QStringList out;
    for (const DictionaryEntry& entry : m_dictionaryEntries)
        out.append(entry.term);

    const QString occupation = m_userOccupation.toLower();
    const Field fields[] = {
        {list({"エンジニア", "プログラマ", "開発", "engineer", "developer"}), softwareTerms()},
        {list({"医", "看護", "薬", "doctor", "medical"}), medicalTerms()},
        {list({"法", "弁護", "司法", "lawyer", "legal"}), legalTerms()},
        {list({"税", "会計", "経理", "accountant", "finance"}), accountingTerms()},
    };
    for (const Field& field : fields) {
        for (const QString& keyword : field.keywords) {
            if (occupation.contains(keyword)) {
                out.append(field.terms);
                break;
            }
        }
    }
    return out;
}

} // namespace vel
