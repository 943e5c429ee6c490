<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
</context>
</TS>
