// Templates of the collector's web page. {{name}} is HTML-escaped; the only unescaped value
// is the layout's {{{content}}}, which is the page's own rendered template.
#include <map>
#include <string>

namespace collector {

namespace {

const char* kLayout = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{{title}} · quillon-collector</title>
<style>
:root{--fg:#1c2833;--muted:#5d6d7e;--line:#d5dbdb;--bg:#f7f9f9;--accent:#1f618d;--bad:#c0392b}
*{box-sizing:border-box}
body{margin:0;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans",sans-serif;color:var(--fg);background:var(--bg)}
header{background:#1c2833;color:#fff;padding:.6rem 1rem;display:flex;flex-wrap:wrap;gap:.4rem 1.2rem;align-items:baseline}
header a{color:#fff;text-decoration:none}
header .brand{font-weight:700;margin-right:.5rem}
header nav{display:flex;flex-wrap:wrap;gap:.3rem 1rem}
header nav a{opacity:.85}
main{max-width:72rem;margin:0 auto;padding:1rem}
h1{font-size:1.35rem;margin:.2rem 0 .6rem;overflow-wrap:anywhere}
h2{font-size:1.05rem;margin:1.4rem 0 .5rem;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
a{color:var(--accent)}
.muted{color:var(--muted)}
.card{background:#fff;border:1px solid var(--line);border-radius:6px;padding:.7rem .9rem;margin:.5rem 0}
.row{display:block;text-decoration:none;color:inherit}
.row:hover{border-color:var(--accent)}
.title{font-weight:600;overflow-wrap:anywhere}
.reason{overflow-wrap:anywhere}
.frame{font-family:ui-monospace,"DejaVu Sans Mono",monospace;font-size:.88rem;overflow-wrap:anywhere;color:#4a235a}
.meta{display:flex;flex-wrap:wrap;gap:.2rem 1.1rem;font-size:.85rem;color:var(--muted);margin-top:.3rem}
.meta b{color:var(--fg);font-weight:600}
.count{float:right;font-weight:700;font-size:1.1rem;margin-left:.6rem;color:var(--bad)}
.stats{display:flex;flex-wrap:wrap;gap:.6rem}
.stat{background:#fff;border:1px solid var(--line);border-radius:6px;padding:.5rem .8rem;min-width:8rem}
.stat b{display:block;font-size:1.4rem}
.charts{display:grid;grid-template-columns:repeat(auto-fit,minmax(18rem,1fr));gap:.8rem}
svg{max-width:100%;height:auto;display:block}
form.filter{display:flex;flex-wrap:wrap;gap:.5rem;margin:.6rem 0}
form.filter input,form.filter select,form.filter button{font:inherit;padding:.3rem .5rem}
form.filter input{flex:1 1 12rem}
table{border-collapse:collapse;width:100%;background:#fff}
th,td{text-align:left;padding:.35rem .5rem;border-bottom:1px solid var(--line);vertical-align:top}
.kv td{overflow-wrap:anywhere}
.scroll{overflow-x:auto}
.scroll th,.scroll td{white-space:nowrap}
th{font-weight:600;color:var(--muted);font-size:.85rem}
.kv th{width:38%}
ol.bt{list-style:none;padding:0;margin:0;background:#fff;border:1px solid var(--line);border-radius:6px}
ol.bt li{padding:.35rem .6rem;border-bottom:1px solid var(--line)}
ol.bt li.sys{color:var(--muted)}
ol.bt li.top{background:#fdf2e9;border-left:4px solid #d68910}
ol.bt .idx{display:inline-block;min-width:1.8rem;color:var(--muted)}
details summary{cursor:pointer;color:var(--accent);font-size:.85rem}
pre{background:#fff;border:1px solid var(--line);border-radius:6px;padding:.6rem;overflow:auto;font-size:.8rem;white-space:pre-wrap;overflow-wrap:anywhere}
.timeline{list-style:none;margin:0;padding:0 0 0 .9rem;border-left:3px solid var(--line)}
.timeline li{position:relative;padding:.2rem 0 .45rem .4rem}
.timeline li::before{content:"";position:absolute;left:-1.35rem;top:.55rem;width:.6rem;height:.6rem;border-radius:50%;background:var(--accent)}
.timeline .when{font-size:.8rem;color:var(--muted);display:block}
.thumb{width:5.5rem;height:5.5rem;object-fit:cover;border:1px solid var(--line);border-radius:4px;background:#eee;flex:none}
.fb{display:flex;gap:.8rem;align-items:flex-start}
.fb .body{min-width:0}
.tag{display:inline-block;font-size:.75rem;padding:.05rem .45rem;border-radius:3px;background:#d6eaf8;color:#1b4f72;margin-right:.3rem}
.tag.bug{background:#fadbd8;color:#78281f}
.shot{max-width:100%;border:1px solid var(--line);border-radius:6px;background:#fff}
.ext{border-left:4px solid #7d3c98}
.pages{display:flex;gap:1rem;margin:.8rem 0}
@media (max-width:40rem){main{padding:.6rem}.kv th{width:45%}.thumb{width:4rem;height:4rem}}
</style>
</head>
<body>
<header><a class="brand" href="/">quillon-collector</a>
<nav><a href="/">Crashes</a><a href="/exceptions">Exceptions</a><a href="/registrations">Registrations</a><a href="/feedback">Feedback</a></nav></header>
<main>
{{{content}}}
</main>
</body>
</html>
)";

const char* kMessage = R"(<h1>{{title}}</h1><p class="card">{{message}}</p>)";

const char* kAppKeyFilter = R"(<select name="ak" aria-label="application key"><option value="">all applications</option>{{#appKeys}}<option value="{{key}}"{{#selected}} selected{{/selected}}>{{key}}</option>{{/appKeys}}</select>)";

const char* kOverview = R"(<h1>Crashes</h1>
<div class="stats">
<div class="stat"><b>{{crashCount}}</b>crashes</div>
<div class="stat"><b>{{groupCount}}</b>groups</div>
<div class="stat"><a href="/exceptions"><b>{{exceptionGroups}}</b>customized exceptions</a></div>
<div class="stat"><a href="/feedback"><b>{{feedbackCount}}</b>feedback reports</a></div>
</div>
<form class="filter" method="get" action="/">
@APPKEYS@
<input type="search" name="q" value="{{q}}" placeholder="name, reason or frame" aria-label="text filter">
<button type="submit">Filter</button>
</form>
<div class="charts">
<figure class="card" style="margin:0">
<figcaption class="muted">Crashes per day, last 30 days (highest: {{dayMax}})</figcaption>
<svg viewBox="0 0 608 150" width="608" height="150" role="img" aria-label="crashes per day">
<line x1="0" y1="126.5" x2="608" y2="126.5" stroke="#aab7b8"/>
{{#days}}<rect x="{{x}}" y="{{y}}" width="16" height="{{h}}" fill="#2e86c1"><title>{{date}}: {{count}}</title></rect>{{#label}}<text x="{{lx}}" y="142" font-size="11" text-anchor="middle" fill="#5d6d7e">{{label}}</text>{{/label}}
{{/days}}</svg>
</figure>
<figure class="card" style="margin:0">
<figcaption class="muted">Share of each group</figcaption>
<svg viewBox="0 0 360 {{shareHeight}}" width="360" height="{{shareHeight}}" role="img" aria-label="share of each crash group">
{{#share}}<rect x="0" y="{{y}}" width="{{width}}" height="20" fill="{{color}}"><title>{{label}}: {{count}}</title></rect><text x="{{tx}}" y="{{ty}}" font-size="12" fill="#1c2833">{{pct}}</text>
{{/share}}</svg>
<ul class="muted" style="margin:.3rem 0 0;padding-left:1rem;font-size:.85rem">{{#share}}<li><span style="color:{{color}}">■</span> {{label}} ({{count}})</li>{{/share}}</ul>
</figure>
</div>
<h2>Groups, newest first</h2>
{{^hasGroups}}<p class="card muted">No crashes{{#q}} match “{{q}}”{{/q}}.</p>{{/hasGroups}}
{{#groups}}<a class="card row" href="{{href}}">
<span class="count" title="crashes">{{count}}</span>
<div class="title">{{name}}</div>
<div class="reason">{{reason}}</div>
{{#frame}}<div class="frame">{{frame}}</div>{{/frame}}
<div class="meta"><span>devices <b>{{devices}}</b></span><span>first <b>{{firstText}}</b></span><span>last <b>{{lastText}}</b></span><span>versions <b>{{appVersionsText}}</b></span><span>OS <b>{{osVersionsText}}</b></span><span>app <b>{{ak}}</b></span><span>{{shareText}}</span></div>
</a>
{{/groups}}
{{#hasFeedback}}<h2>Latest feedback</h2>
{{#latestFeedback}}@FEEDBACKROW@{{/latestFeedback}}
<p><a href="/feedback">All {{feedbackCount}} feedback reports</a></p>{{/hasFeedback}}
)";

const char* kFeedbackRow = R"(<a class="card row fb" href="{{href}}">{{#hasImage}}<img class="thumb" src="{{image}}" alt="screenshot" loading="lazy">{{/hasImage}}{{^hasImage}}<span class="thumb"></span>{{/hasImage}}
<span class="body"><span class="tag {{typeLabel}}">{{typeLabel}}</span><span class="muted">{{timeText}}</span>
<span class="title" style="display:block">{{commentShort}}</span>
<span class="meta">{{#contact}}<span>contact <b>{{contact}}</b></span>{{/contact}}<span>app <b>{{appkey}}</b></span></span></span></a>
)";

const char* kGroup = R"(<p><a href="/">← all groups</a></p>
<h1>{{name}}</h1>
<p class="reason">{{reason}}</p>
{{#frame}}<p class="frame">{{frame}}</p>{{/frame}}
<h2>Crashes in this group ({{shown}} newest)</h2>
<div class="scroll"><table><thead><tr><th>Time</th><th>Version</th><th>OS</th><th>Device</th></tr></thead><tbody>
{{#crashes}}<tr><td><a href="{{href}}">{{timeText}}</a></td><td>{{appVersion}}</td><td>{{osVersion}}</td><td>{{device}}</td></tr>
{{/crashes}}</tbody></table></div>
)";

const char* kCrash = R"(<p>{{#groupHref}}<a href="{{groupHref}}">← its group</a> · {{/groupHref}}<a href="{{rawHref}}">raw JSON</a></p>
<h1>{{name}}</h1>
<p class="reason">{{reason}}</p>
<div class="meta"><span>{{kind}}</span>{{#isException}}<span>language <b>{{language}}</b></span><span>occurrences <b>{{occurrences}}</b></span>{{/isException}}<span>at <b>{{timeText}}</b> UTC</span><span>received <b>{{receivedText}}</b></span><span>app <b>{{ak}}</b></span></div>
{{#message}}<p class="card">Message: {{message}}</p>{{/message}}
{{#extension}}<div class="card ext"><b>Relayed from an application extension:</b> {{name}} ({{bundle}}), extension point {{point}}{{#uuid}}, {{uuid}}{{/uuid}}</div>{{/extension}}
{{#hasFrames}}<h2>Backtrace</h2>
<ol class="bt">{{#frames}}<li class="{{#system}}sys{{/system}}{{#top}} top{{/top}}"><span class="idx">{{index}}</span><span class="frame">{{label}}</span>{{#named}}<div class="meta"><span>{{image}}</span><span>offset {{offset}}</span></div>{{/named}}{{#resolved}}<details><summary>line as received</summary><code>{{raw}}</code></details>{{/resolved}}</li>
{{/frames}}</ol>{{/hasFrames}}
<h2>Device</h2>
<table class="kv">{{#device}}<tr><th>{{key}}</th><td>{{value}}</td></tr>{{/device}}{{#user}}<tr><th>User</th><td>{{user}}</td></tr>{{/user}}</table>
{{#hasDiagnostics}}<h2>Diagnostics</h2>
<table class="kv">{{#diagnostics}}<tr><th>{{key}}</th><td>{{value}}</td></tr>{{/diagnostics}}</table>{{/hasDiagnostics}}
{{#hasBreadcrumbs}}<h2>Breadcrumbs</h2>
<ol class="timeline">{{#breadcrumbs}}<li><span class="when">{{time}} {{#relative}}({{relative}}){{/relative}}</span>{{#marker}}<i>{{text}}</i>{{/marker}}{{^marker}}{{text}}{{/marker}}</li>{{/breadcrumbs}}</ol>{{/hasBreadcrumbs}}
<h2>Record</h2>
<details><summary>raw JSON</summary><pre>{{raw}}</pre></details>
)";

const char* kExceptions = R"(<h1>Customized exceptions</h1>
<p class="muted">Reports pooled by the application and counted there; identical reports (same text and message) are one row, their occurrences summed. {{occurrences}} occurrences in all.</p>
<form class="filter" method="get" action="/exceptions">
@APPKEYS@
<input type="search" name="q" value="{{q}}" placeholder="name, message or trace" aria-label="text filter">
<button type="submit">Filter</button>
</form>
{{^hasGroups}}<p class="card muted">No customized exceptions.</p>{{/hasGroups}}
{{#groups}}<a class="card row" href="{{href}}"><span class="count" title="occurrences">{{occurrences}}</span>
<div class="title"><span class="tag">{{language}}</span>{{message}}</div>
{{#reason}}<div class="reason">{{reason}}</div>{{/reason}}
{{#trace}}<pre class="frame" style="margin:.3rem 0 0;padding:.3rem .5rem;border:0;background:#f4f6f6">{{trace}}</pre>{{/trace}}
<div class="meta"><span>name <b>{{name}}</b></span><span>reports <b>{{reports}}</b></span><span>devices <b>{{devices}}</b></span><span>last <b>{{lastText}}</b></span><span>app <b>{{ak}}</b></span></div></a>
{{/groups}}
)";

const char* kRegistrations = R"(<h1>Registrations</h1>
<p class="muted">Installations (distinct device identifiers) per application version and OS version; {{installations}} in all.</p>
{{^hasRows}}<p class="card muted">No registrations.</p>{{/hasRows}}
{{#hasRows}}<div class="scroll"><table><thead><tr><th>Application</th><th>Version</th><th>OS</th><th>Installations</th><th>Registrations</th><th>Last</th></tr></thead><tbody>
{{#rows}}<tr><td>{{ak}}</td><td>{{appVersion}}</td><td>{{osVersion}}</td><td>{{installations}}</td><td>{{registrations}}</td><td>{{lastText}}</td></tr>
{{/rows}}</tbody></table></div>{{/hasRows}}
)";

const char* kFeedbackList = R"(<h1>Feedback</h1>
<p class="muted">{{count}} reports, newest first.</p>
{{^hasItems}}<p class="card muted">No feedback.</p>{{/hasItems}}
{{#items}}@FEEDBACKROW@{{/items}}
<div class="pages">{{#prev}}<a href="{{prev}}">← newer</a>{{/prev}}{{#next}}<a href="{{next}}">older →</a>{{/next}}</div>
)";

const char* kFeedback = R"(<p><a href="/feedback">← all feedback</a> · <a href="{{rawHref}}">raw JSON</a></p>
<h1><span class="tag {{typeLabel}}">{{typeLabel}}</span> {{comment}}</h1>
<div class="meta"><span>at <b>{{timeText}}</b> UTC</span>{{#contact}}<span>contact <b>{{contact}}</b></span>{{/contact}}<span>app <b>{{appkey}}</b></span>{{#appVersion}}<span>version <b>{{appVersion}} ({{build}})</b></span>{{/appVersion}}</div>
{{#hasImage}}<h2>Screenshot</h2><a href="{{image}}"><img class="shot" src="{{image}}" alt="marked-up screenshot"></a>{{/hasImage}}
{{^hasImage}}{{#imageUrl}}<p>Screenshot: {{imageUrl}}</p>{{/imageUrl}}{{/hasImage}}
{{#hasTrace}}<h2>Operation trace</h2>
<ol class="timeline">{{#trace}}<li><span class="when">{{time}}</span>{{text}}</li>{{/trace}}</ol>{{/hasTrace}}
{{#hasLogs}}<h2>Log</h2><pre>{{#logs}}{{.}}
{{/logs}}</pre>{{/hasLogs}}
{{#hasUserData}}<h2>User data</h2>
<table class="kv">{{#userData}}<tr><th>{{key}}</th><td>{{value}}</td></tr>{{/userData}}</table>{{/hasUserData}}
{{#hasDevice}}<h2>Device</h2>
<table class="kv">{{#device}}<tr><th>{{key}}</th><td>{{value}}</td></tr>{{/device}}</table>{{/hasDevice}}
<h2>Report</h2>
<details><summary>raw JSON</summary><pre>{{raw}}</pre></details>
)";

std::string expand(std::string t) {
    for (auto [marker, part] : {std::pair{"@APPKEYS@", kAppKeyFilter}, std::pair{"@FEEDBACKROW@", kFeedbackRow}}) {
        for (auto pos = t.find(marker); pos != std::string::npos; pos = t.find(marker))
            t.replace(pos, std::string(marker).size(), part);
    }
    return t;
}

}  // namespace

const std::map<std::string, std::string>& webTemplates() {
    static const std::map<std::string, std::string> all = {
        {"layout", kLayout},
        {"message", kMessage},
        {"overview", expand(kOverview)},
        {"group", kGroup},
        {"crash", kCrash},
        {"exceptions", expand(kExceptions)},
        {"registrations", kRegistrations},
        {"feedbackList", expand(kFeedbackList)},
        {"feedback", kFeedback},
    };
    return all;
}

}  // namespace collector
