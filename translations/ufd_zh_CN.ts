<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MediaWords</name>
    <message>
        <source>fake: %1 real of %2</source>
        <translation>虚假容量：实际 %1，标称 %2</translation>
    </message>
    <message>
        <source>fake: the flash keeps fewer sectors than the drive reports</source>
        <translation>虚假容量：闪存保存的扇区少于驱动器报告的数量</translation>
    </message>
    <message>
        <source>%1 of %2 sectors tested do not keep their data</source>
        <translation>测试的 %2 个扇区中有 %1 个不能保存数据</translation>
    </message>
    <message>
        <source>writes %1, floor %2</source>
        <translation>写入 %1，下限 %2</translation>
    </message>
    <message>
        <source>reads %1, floor %2</source>
        <translation>读取 %1，下限 %2</translation>
    </message>
    <message>
        <source>stopped answering; a reset did not bring it back</source>
        <translation>停止响应；复位后仍未恢复</translation>
    </message>
    <message>
        <source>media test read or write failed</source>
        <translation>介质测试读写失败</translation>
    </message>
    <message>
        <source>write protected (switch on)</source>
        <translation>写保护（开关已打开）</translation>
    </message>
</context>
<context>
    <name>Page</name>
    <message>
        <source>UFD line yield</source>
        <translation>UFD 产线良率</translation>
    </message>
    <message>
        <source>Drives</source>
        <translation>驱动器</translation>
    </message>
    <message>
        <source>First-pass yield</source>
        <translation>直通率</translation>
    </message>
    <message>
        <source>Final yield</source>
        <translation>最终良率</translation>
    </message>
    <message>
        <source>loading</source>
        <translation>加载中</translation>
    </message>
    <message>
        <source>Failures of first passes, most first</source>
        <translation>首次测试失败，按数量排序</translation>
    </message>
    <message>
        <source>Sockets</source>
        <translation>插座</translation>
    </message>
    <message>
        <source>First-pass failures per socket, laid out as the rack; a socket far above its station&apos;s other sockets is marked suspect.</source>
        <translation>各插座的首次测试失败，按测试架布局排列；远高于本工作站其他插座的插座标为可疑。</translation>
    </message>
    <message>
        <source>Yield per hour</source>
        <translation>每小时良率</translation>
    </message>
    <message>
        <source>Yield per day</source>
        <translation>每日良率</translation>
    </message>
    <message>
        <source>Yield per station</source>
        <translation>各工作站良率</translation>
    </message>
    <message>
        <source>Per station</source>
        <translation>按工作站</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>工作站</translation>
    </message>
    <message>
        <source>First pass</source>
        <translation>首次通过</translation>
    </message>
    <message>
        <source>Final</source>
        <translation>最终通过</translation>
    </message>
    <message>
        <source>Per product</source>
        <translation>按产品</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>产品</translation>
    </message>
    <message>
        <source>Per lot</source>
        <translation>按批次</translation>
    </message>
    <message>
        <source>Lot</source>
        <translation>批次</translation>
    </message>
    <message>
        <source>Per operator</source>
        <translation>按操作员</translation>
    </message>
    <message>
        <source>Operator</source>
        <translation>操作员</translation>
    </message>
    <message>
        <source>Failure Pareto</source>
        <translation>失败柏拉图</translation>
    </message>
    <message>
        <source>Code</source>
        <translation>代码</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>原因</translation>
    </message>
    <message>
        <source>Share</source>
        <translation>占比</translation>
    </message>
    <message>
        <source>Cumulative</source>
        <translation>累计</translation>
    </message>
    <message>
        <source>Last runs</source>
        <translation>最近的测试</translation>
    </message>
    <message>
        <source>Started (local)</source>
        <translation>开始时间（本地）</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>Slot</source>
        <translation>槽位</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Drive </source>
        <translation>驱动器 </translation>
    </message>
    <message>
        <source>Its last record</source>
        <translation>最近一条记录</translation>
    </message>
    <message>
        <source>First-pass yield %</source>
        <translation>直通率 %</translation>
    </message>
    <message>
        <source>Final yield %</source>
        <translation>最终良率 %</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>（无）</translation>
    </message>
    <message>
        <source>Cumulative %</source>
        <translation>累计 %</translation>
    </message>
    <message>
        <source>(no port)</source>
        <translation>（无端口）</translation>
    </message>
    <message>
        <source>%1 drive</source>
        <translation>%1 个</translation>
    </message>
    <message>
        <source>%1 drives</source>
        <translation>%1 个</translation>
    </message>
    <message>
        <source>, suspect</source>
        <translation>，可疑</translation>
    </message>
    <message>
        <source>%1% of %2 first passes failed</source>
        <translation>%2 次首测中 %1% 失败</translation>
    </message>
    <message>
        <source>; suspect</source>
        <translation>；可疑</translation>
    </message>
    <message>
        <source>PASS</source>
        <translation>通过</translation>
    </message>
    <message>
        <source>FAIL %1</source>
        <translation>失败 %1</translation>
    </message>
    <message>
        <source>Drive %1: %2</source>
        <translation>驱动器 %1：%2</translation>
    </message>
    <message>
        <source>updated %1</source>
        <translation>更新于 %1</translation>
    </message>
    <message>
        <source>Chart.js is not installed (Debian package libjs-chart.js): the tables alone are shown.</source>
        <translation>未安装 Chart.js（Debian 软件包 libjs-chart.js）：仅显示表格。</translation>
    </message>
    <message>
        <source>records unavailable: %1</source>
        <translation>记录不可用：%1</translation>
    </message>
    <message>
        <source>not updated: %1</source>
        <translation>未更新：%1</translation>
    </message>
</context>
<context>
    <name>Refusals</name>
    <message>
        <source>--items: unknown item &quot;%1&quot; (known: format, manufacture, checkconfig, checkwp)</source>
        <translation>--items：未知项目“%1”（可用：format、manufacture、checkconfig、checkwp）</translation>
    </message>
    <message>
        <source>--items: checkwp runs alone, as in the window; run format, manufacture or checkconfig in another run</source>
        <translation>--items：checkwp 须单独运行，与窗口中相同；format、manufacture 或 checkconfig 请另行运行</translation>
    </message>
    <message>
        <source>%1 must not be empty</source>
        <translation>%1 不能为空</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 需要一个值</translation>
    </message>
    <message>
        <source>unknown option &quot;%1&quot;</source>
        <translation>未知选项“%1”</translation>
    </message>
    <message>
        <source>--json goes with --batch</source>
        <translation>--json 须与 --batch 一起使用</translation>
    </message>
    <message>
        <source>--items: Product.ini&apos;s ApMode=%1 fixes the items; &quot;%2&quot; cannot be changed</source>
        <translation>--items：Product.ini 的 ApMode=%1 已固定项目，无法更改“%2”</translation>
    </message>
    <message>
        <source>must not hold control characters</source>
        <translation>不能包含控制字符</translation>
    </message>
    <message>
        <source>must be a number of MB/s, 0 or more</source>
        <translation>必须是 MB/s 数值，0 或更大</translation>
    </message>
    <message>
        <source>must be true or false</source>
        <translation>必须是 true 或 false</translation>
    </message>
    <message>
        <source>must be auto, fat32 or exfat</source>
        <translation>必须是 auto、fat32 或 exfat</translation>
    </message>
    <message>
        <source>must be a whole number from %1 to %2</source>
        <translation>必须是 %1 到 %2 之间的整数</translation>
    </message>
    <message>
        <source>must be one of %1, or empty for the locale&apos;s</source>
        <translation>必须是 %1 之一，或留空以跟随系统区域设置</translation>
    </message>
    <message>
        <source>must be a whole number of milliseconds from %1 to %2</source>
        <translation>必须是 %1 到 %2 之间的整数毫秒</translation>
    </message>
    <message>
        <source>must be an absolute path</source>
        <translation>必须是绝对路径</translation>
    </message>
    <message>
        <source>must be a whole percent from 0 to %1</source>
        <translation>必须是 0 到 %1 之间的整数百分比</translation>
    </message>
    <message>
        <source>is no drive index: the key must be 0 to %1</source>
        <translation>不是驱动器编号：键必须是 0 到 %1</translation>
    </message>
    <message>
        <source>must name the socket</source>
        <translation>必须为插座命名</translation>
    </message>
    <message>
        <source>is socket %1&apos;s label already: sockets %1 and %2 need labels of their own</source>
        <translation>已是插座 %1 的标签：插座 %1 和 %2 需要各自的标签</translation>
    </message>
    <message>
        <source>needs OperatorPrefix, LotPrefix or StartCode</source>
        <translation>需要 OperatorPrefix、LotPrefix 或 StartCode</translation>
    </message>
    <message>
        <source>%1 begins %2: a scan could not tell them apart</source>
        <translation>%2 以 %1 开头：扫描无法区分二者</translation>
    </message>
    <message>
        <source>%1: no such file</source>
        <translation>%1：文件不存在</translation>
    </message>
    <message>
        <source>outside any section</source>
        <translation>不在任何节中</translation>
    </message>
    <message>
        <source>unknown key</source>
        <translation>未知的键</translation>
    </message>
    <message>
        <source>unknown section</source>
        <translation>未知的节</translation>
    </message>
    <message>
        <source>line %1: %2</source>
        <translation>第 %1 行：%2</translation>
    </message>
    <message>
        <source>larger than %1 bytes: not a settings file</source>
        <translation>大于 %1 字节：不是设置文件</translation>
    </message>
    <message>
        <source>holds a control character (byte %1)</source>
        <translation>含有控制字符（字节 %1）</translation>
    </message>
    <message>
        <source>not a [Section] line</source>
        <translation>不是 [Section] 行</translation>
    </message>
    <message>
        <source>neither a comment, a [Section] nor a Key=Value line</source>
        <translation>既不是注释、[Section] 行，也不是 Key=Value 行</translation>
    </message>
    <message>
        <source>a value without a key</source>
        <translation>有值而无键</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>不是普通文件</translation>
    </message>
    <message>
        <source>cannot be read: %1</source>
        <translation>无法读取：%1</translation>
    </message>
</context>
<context>
    <name>StatusReasons</name>
    <message>
        <source>a unit of chip 0 rejected: its unit list is too long</source>
        <translation>芯片 0 的一个单元被拒绝：其单元列表过长</translation>
    </message>
    <message>
        <source>controller information not read</source>
        <translation>未能读取主控信息</translation>
    </message>
    <message>
        <source>configuration write command failed</source>
        <translation>配置写入命令失败</translation>
    </message>
    <message>
        <source>configuration block not read back</source>
        <translation>未能读回配置块</translation>
    </message>
    <message>
        <source>chip list not read, or without its end mark</source>
        <translation>未能读取芯片列表，或列表缺少结束标记</translation>
    </message>
    <message>
        <source>unit list not read during the chip scan</source>
        <translation>芯片扫描时未能读取单元列表</translation>
    </message>
    <message>
        <source>a unit&apos;s format command failed</source>
        <translation>某单元的格式化命令失败</translation>
    </message>
    <message>
        <source>closing vendor command failed</source>
        <translation>结束厂商命令失败</translation>
    </message>
    <message>
        <source>unit list entry not scanned</source>
        <translation>单元列表条目未扫描</translation>
    </message>
    <message>
        <source>boundary block refused</source>
        <translation>边界块被拒绝</translation>
    </message>
    <message>
        <source>capacity not read, or capacity 0</source>
        <translation>未能读取容量，或容量为 0</translation>
    </message>
    <message>
        <source>format finish block refused</source>
        <translation>格式化结束块被拒绝</translation>
    </message>
    <message>
        <source>mode block not read</source>
        <translation>未能读取模式块</translation>
    </message>
    <message>
        <source>flash smaller than reported (fake capacity)</source>
        <translation>闪存小于报告的容量（虚假容量）</translation>
    </message>
    <message>
        <source>sectors do not keep written data</source>
        <translation>扇区无法保存写入的数据</translation>
    </message>
    <message>
        <source>write speed below the floor</source>
        <translation>写入速度低于下限</translation>
    </message>
    <message>
        <source>read speed below the floor</source>
        <translation>读取速度低于下限</translation>
    </message>
    <message>
        <source>media test read or write failed</source>
        <translation>介质测试读写失败</translation>
    </message>
    <message>
        <source>write protected (switch on)</source>
        <translation>写保护（开关已打开）</translation>
    </message>
    <message>
        <source>master boot record not written</source>
        <translation>未能写入主引导记录</translation>
    </message>
    <message>
        <source>boot sector not written</source>
        <translation>未能写入引导扇区</translation>
    </message>
    <message>
        <source>FAT copy not written</source>
        <translation>未能写入 FAT 副本</translation>
    </message>
    <message>
        <source>root directory not written</source>
        <translation>未能写入根目录</translation>
    </message>
    <message>
        <source>identity read back differs from the one written</source>
        <translation>读回的标识与写入的不一致</translation>
    </message>
    <message>
        <source>not write protected</source>
        <translation>未写保护</translation>
    </message>
    <message>
        <source>identity write refused by the controller</source>
        <translation>主控拒绝写入标识</translation>
    </message>
    <message>
        <source>identity incomplete: a Product.ini text is empty</source>
        <translation>标识不完整：Product.ini 中有文本为空</translation>
    </message>
    <message>
        <source>area too large or too small for its file system</source>
        <translation>分区对其文件系统而言过大或过小</translation>
    </message>
    <message>
        <source>identity does not fit the configuration block</source>
        <translation>标识放不进配置块</translation>
    </message>
    <message>
        <source>exFAT allocation bitmap or up-case table not written</source>
        <translation>未能写入 exFAT 分配位图或大写转换表</translation>
    </message>
    <message>
        <source>missing handle: no drive to talk to</source>
        <translation>缺少句柄：没有可通信的驱动器</translation>
    </message>
    <message>
        <source>read or write failed: extended boot record</source>
        <translation>读写失败：扩展引导记录</translation>
    </message>
</context>
<context>
    <name>TestFrm</name>
    <message>
        <source>This action will clear the test report, Do you want to continue ?</source>
        <translation>此操作将清除测试报告，是否继续？</translation>
    </message>
    <message>
        <source>Clear Report</source>
        <translation>清除报告</translation>
    </message>
    <message>
        <source>Error Status = </source>
        <translation>错误状态 = </translation>
    </message>
    <message>
        <source> failed. </source>
        <translation> 失败。 </translation>
    </message>
    <message>
        <source>Operator</source>
        <translation>操作员</translation>
    </message>
    <message>
        <source>Lot</source>
        <translation>批次</translation>
    </message>
    <message>
        <source>[Sockets] labels for them</source>
        <translation>[Sockets] 中的标签</translation>
    </message>
    <message>
        <source>%1 drive(s) have no row on the window (drive index %2); station.conf shows them with %3</source>
        <translation>%1 个驱动器在窗口上没有行（驱动器索引 %2）；在 station.conf 中设置 %3 即可显示</translation>
    </message>
    <message>
        <source> and </source>
        <translation> 和 </translation>
    </message>
    <message>
        <source>Socket %1 (drive index %2)</source>
        <translation>插座 %1（驱动器索引 %2）</translation>
    </message>
    <message>
        <source>Drive index %1</source>
        <translation>驱动器索引 %1</translation>
    </message>
    <message>
        <source>No drive</source>
        <translation>无驱动器</translation>
    </message>
    <message>
        <source>Serial </source>
        <translation>序列号 </translation>
    </message>
    <message>
        <source>(unknown)</source>
        <translation>（未知）</translation>
    </message>
    <message>
        <source>Port </source>
        <translation>端口 </translation>
    </message>
    <message>
        <source>Missing important file, please reinstall the software</source>
        <translation>缺少重要文件，请重新安装软件</translation>
    </message>
    <message>
        <source>Partition Information error</source>
        <translation>分区信息错误</translation>
    </message>
    <message>
        <source>Open Product.ini failed</source>
        <translation>打开 Product.ini 失败</translation>
    </message>
    <message>
        <source>VID = </source>
        <translation>VID = </translation>
    </message>
    <message>
        <source>  PID = </source>
        <translation>  PID = </translation>
    </message>
    <message>
        <source>USB String = </source>
        <translation>USB 字符串 = </translation>
    </message>
    <message>
        <source>SCSI String = </source>
        <translation>SCSI 字符串 = </translation>
    </message>
    <message>
        <source>No items checked</source>
        <translation>未勾选任何项目</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>格式化</translation>
    </message>
    <message>
        <source>Config String</source>
        <translation>配置字符串</translation>
    </message>
    <message>
        <source>Check Config</source>
        <translation>检查配置</translation>
    </message>
    <message>
        <source>Check WP</source>
        <translation>检查写保护</translation>
    </message>
    <message>
        <source>ALL PASS</source>
        <translation>全部通过</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Manufacture</source>
        <translation>量产</translation>
    </message>
    <message>
        <source>1M</source>
        <translation>1M</translation>
    </message>
    <message>
        <source>Enable Beep</source>
        <translation>启用蜂鸣</translation>
    </message>
    <message>
        <source>Disk Lab</source>
        <translation>卷标</translation>
    </message>
    <message>
        <source>The monitor Vasket had ended; started again (%1)</source>
        <translation>监视程序 Vasket 已退出；已重新启动（%1）</translation>
    </message>
    <message>
        <source>The monitor Vasket did not come up; started again (%1)</source>
        <translation>监视程序 Vasket 未能启动；已重新启动（%1）</translation>
    </message>
    <message>
        <source>The monitor Vasket answers again</source>
        <translation>监视程序 Vasket 已恢复响应</translation>
    </message>
    <message>
        <source>UFD Manufacture Program</source>
        <translation>UFD 量产程序</translation>
    </message>
    <message>
        <source>Start (&amp;S)</source>
        <translation>开始 (&amp;S)</translation>
    </message>
    <message>
        <source>Clear (&amp;C)</source>
        <translation>清除 (&amp;C)</translation>
    </message>
    <message>
        <source>Flash  LED  on<byte value="xd"/>
Defect Device</source>
        <translation>不良设备<byte value="xd"/>
LED 闪烁</translation>
    </message>
    <message>
        <source>! ALL PASS !</source>
        <translation>! 全部通过 !</translation>
    </message>
    <message>
        <source>! FAILED !</source>
        <translation>! 失败 !</translation>
    </message>
    <message>
        <source>Another station is already running on the notice channel &quot;%1&quot;. Close it first, or start this one with its own channel: set UFD_NOTICE_CHANNEL to another name.</source>
        <translation>通知通道“%1”上已有另一个工作站在运行。请先关闭它，或为本工作站设置单独的通道：将 UFD_NOTICE_CHANNEL 设为其他名称。</translation>
    </message>
    <message>
        <source>Cannot listen on the notice channel &quot;%1&quot;; drives that come or go are seen only after Clear</source>
        <translation>无法监听通知通道“%1”；驱动器的插入或拔出要在按“清除”后才能看到</translation>
    </message>
    <message>
        <source>The monitor Vasket has ended and cannot be started again: drives that come or go are seen only after Clear</source>
        <translation>监视程序 Vasket 已退出且无法重新启动：驱动器的插入或拔出要在按“清除”后才能看到</translation>
    </message>
    <message>
        <source>The monitor Vasket (process %1) does not answer: drives that come or go are seen only after Clear</source>
        <translation>监视程序 Vasket（进程 %1）无响应：驱动器的插入或拔出要在按“清除”后才能看到</translation>
    </message>
    <message>
        <source>(no row)</source>
        <translation>（无行）</translation>
    </message>
    <message>
        <source>(hidden row)</source>
        <translation>（隐藏行）</translation>
    </message>
    <message>
        <source>Slot</source>
        <translation>槽位</translation>
    </message>
    <message>
        <source>Row</source>
        <translation>行</translation>
    </message>
    <message>
        <source>Picture</source>
        <translation>图片</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>原因</translation>
    </message>
    <message>
        <source> (removed)</source>
        <translation> （已取出）</translation>
    </message>
    <message>
        <source>Verdict: </source>
        <translation>结论： </translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>（无）</translation>
    </message>
    <message>
        <source>No drive attached: the run could not start.</source>
        <translation>未连接驱动器：无法开始测试。</translation>
    </message>
    <message>
        <source>The window was closed during the run.</source>
        <translation>测试期间窗口被关闭。</translation>
    </message>
    <message>
        <source>The run did not start.</source>
        <translation>测试未开始。</translation>
    </message>
    <message>
        <source>Message (style %1</source>
        <translation>消息（样式 %1</translation>
    </message>
    <message>
        <source> -&gt; No</source>
        <translation> -&gt; 否</translation>
    </message>
    <message>
        <source> -&gt; OK</source>
        <translation> -&gt; 确定</translation>
    </message>
    <message>
        <source>Start waits for the operator&apos;s name and the lot: station.conf has [Records] RequireOperatorLot=true</source>
        <translation>需填写操作员姓名和批次才能开始：station.conf 中设置了 [Records] RequireOperatorLot=true</translation>
    </message>
    <message>
        <source>pulled</source>
        <translation>已拔出</translation>
    </message>
    <message>
        <source>writable</source>
        <translation>可写</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>fake capacity</source>
        <translation>虚假容量</translation>
    </message>
    <message>
        <source>bad sectors</source>
        <translation>坏扇区</translation>
    </message>
    <message>
        <source>slow write</source>
        <translation>写入慢</translation>
    </message>
    <message>
        <source>slow read</source>
        <translation>读取慢</translation>
    </message>
    <message>
        <source>write failed</source>
        <translation>写入失败</translation>
    </message>
    <message>
        <source>no drive</source>
        <translation>无驱动器</translation>
    </message>
    <message>
        <source>identity</source>
        <translation>标识</translation>
    </message>
    <message>
        <source>config</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>controller</source>
        <translation>主控</translation>
    </message>
    <message>
        <source> pulled</source>
        <translation> 已拔出</translation>
    </message>
    <message>
        <source> (status %1)</source>
        <translation> （状态 %1）</translation>
    </message>
    <message>
        <source> removed</source>
        <translation> 已取出</translation>
    </message>
    <message>
        <source>Removed after the run; its result stands until Clear</source>
        <translation>测试后已取出；其结果保留到清除为止</translation>
    </message>
    <message>
        <source>pulled during the run</source>
        <translation>测试期间被拔出</translation>
    </message>
    <message>
        <source>Start-up failed: </source>
        <translation>启动失败： </translation>
    </message>
    <message>
        <source>--operator and --lot are required ([Records] RequireOperatorLot=true in station.conf)</source>
        <translation>必须提供 --operator 和 --lot（station.conf 中设置了 [Records] RequireOperatorLot=true）</translation>
    </message>
    <message>
        <source>--operator and --lot are required</source>
        <translation>必须提供 --operator 和 --lot</translation>
    </message>
    <message>
        <source>Could not save </source>
        <translation>无法保存 </translation>
    </message>
    <message>
        <source>grey</source>
        <translation>灰色</translation>
    </message>
    <message>
        <source>yellow</source>
        <translation>黄色</translation>
    </message>
    <message>
        <source>red</source>
        <translation>红色</translation>
    </message>
    <message>
        <source>green</source>
        <translation>绿色</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
</context>
<context>
    <name>Usage</name>
    <message>
        <source>usage: ufd-station [--batch [--json] | --screenshot FILE] [--items LIST]
                   [--product FILE] [--operator NAME] [--lot TEXT]
Formats and tests the USB flash drives of the line, as Product.ini in the
program directory describes the product.
  --batch            no window: press Start once discovery is done, print
                     every slot&apos;s row; exit 0 all pass, 1 failed, 2 not run,
                     3 records not stored
  --json             with --batch: one JSON object on stdout instead of the
                     table (run id, verdict, exit code, station, product,
                     times, every drive); the messages go to stderr
  --screenshot FILE  as --batch on the current display, then save the
                     window&apos;s picture to FILE
  --items LIST       the items to tick, comma-separated: format, manufacture,
                     checkconfig, checkwp (checkwp runs alone)
  --product FILE     this Product.ini instead of the program directory&apos;s
  --operator NAME    who runs the station, kept in every record of the run
                     (--batch without it: none, whatever the window keeps)
  --lot TEXT         the lot, kept in every record of the run
  --help             this text
  --version          the program&apos;s version
Simulated drives: set QUORLINK_RACK to a rack file. Settings: station.conf.
</source>
        <translation>用法：ufd-station [--batch [--json] | --screenshot FILE] [--items LIST]
                  [--product FILE] [--operator NAME] [--lot TEXT]
按程序目录中 Product.ini 对产品的描述，格式化并测试
产线上的 USB 闪存盘。
  --batch            无窗口：发现完成后按一次“开始”，打印每个槽位的行；
                     退出码 0 全部通过，1 失败，2 未运行，
                     3 记录未保存
  --json             与 --batch 一起使用：在 stdout 上输出一个 JSON 对象，
                     代替表格（运行编号、结论、退出码、工作站、产品、
                     时间、每个驱动器）；消息输出到 stderr
  --screenshot FILE  与 --batch 相同，但在当前显示器上运行，然后把
                     窗口的图像保存到 FILE
  --items LIST       要勾选的项目，以逗号分隔：format、manufacture、
                     checkconfig、checkwp（checkwp 只能单独运行）
  --product FILE     使用此 Product.ini，而不是程序目录中的
  --operator NAME    运行本工作站的操作员，保存在本次运行的每条记录中
                     （--batch 未指定时：无，不论窗口记着谁）
  --lot TEXT         批次，保存在本次运行的每条记录中
  --help             本帮助文本
  --version          程序的版本
模拟驱动器：把 QUORLINK_RACK 设为测试架文件。设置：station.conf。
</translation>
    </message>
</context>
</TS>
