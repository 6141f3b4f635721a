//+------------------------------------------------------------------+
//| Torvik.mqh: imports of the torvik library and the helpers an      |
//| expert advisor needs around them.                                 |
//|                                                                   |
//| Copy TORVIK_ENG.dll (or TORVIK_RUS.dll) to MQL4\Libraries, this   |
//| file to MQL4\Include, and allow DLL imports. Define TORVIK_RUSSIAN |
//| before including it to use the Russian texts.                     |
//+------------------------------------------------------------------+
#property strict

// One bar as the library reads it: 44 bytes, no padding, low before high.
// MqlRates has another layout, so the bars are copied into these records.
struct TorvikBar
  {
   uint              time;
   double            open;
   double            low;
   double            high;
   double            close;
   double            volume;
  };

#define TORVIK_BAR_BYTES   44
#define TORVIK_MAX_BARS    500   // the library's series hold no more
#define TORVIK_MIN_BARS    2     // the reference array's second-newest bar is read
#define TORVIK_CODE_PAGE   1251  // Russian texts are code page 1251; English is ASCII

#ifdef TORVIK_RUSSIAN
#import "TORVIK_RUS.dll"
#else
#import "TORVIK_ENG.dll"
#endif
int    Rft(int barCount,TorvikBar &refBars[],int refBarsTotal,TorvikBar &seriesBars[],int seriesBarsTotal,
           TorvikBar &extraBars[],int extraBarsTotal,double ask,double bid,int digits,double point,
           double positionOpenPrice,int positionType,int pipMode);
int    IniAll(uchar &symbolText[],uchar &currencyText[]);
double LOT(double fixedLot,double riskPercent,double riskMultiplier,double minLot,double maxLot,double lotStep,
           int lotDivisor,double accountFunds,double marginPerLot,int riskSplit,uchar &symbol[]);
int    OpenSignal();
int    CloseSignal();
int    rews();
// Returns a pointer to a constant NUL-terminated 8-bit text. MQL would read a
// string result as UTF-16, so it is taken as an address and copied out.
int    ErrorDescription(int code);
double PoTP();
double PoSL();
double Dpp();
int    DSP();
int    DCloseSP();
int    HHH_1();
int    HHH_2();
#import

#import "kernel32.dll"
int    lstrlenA(int text);
int    lstrcpynA(uchar &buffer[],int text,int size);
#import

//+------------------------------------------------------------------+
//| True when the bar record has the library's layout.                |
//+------------------------------------------------------------------+
bool TorvikBarLayoutOk()
  {
   return(sizeof(TorvikBar)==TORVIK_BAR_BYTES);
  }

//+------------------------------------------------------------------+
//| A text as the library takes it: ANSI bytes with a final NUL.      |
//+------------------------------------------------------------------+
void TorvikText(string text,uchar &bytes[])
  {
   StringToCharArray(text,bytes,0,WHOLE_ARRAY,CP_ACP);
  }

//+------------------------------------------------------------------+
//| The library's text for an error code, copied into an MQL string.  |
//+------------------------------------------------------------------+
string TorvikErrorText(int code)
  {
   int text=ErrorDescription(code);
   if(text==0)
      return("");
   int length=lstrlenA(text);
   uchar bytes[];
   ArrayResize(bytes,length+1);
   lstrcpynA(bytes,text,length+1);
   return(CharArrayToString(bytes,0,length,TORVIK_CODE_PAGE));
  }

//+------------------------------------------------------------------+
//| The last `count` bars of the chart, oldest first; the last record |
//| is bar 0, the forming bar as it stands. Returns the count used.   |
//+------------------------------------------------------------------+
int TorvikChartBars(int count,TorvikBar &bars[])
  {
   int n=count;
   if(n>TORVIK_MAX_BARS)
      n=TORVIK_MAX_BARS;
   if(n>Bars)
      n=Bars;
   if(n<TORVIK_MIN_BARS)
      return(0);
   ArrayResize(bars,n);
   for(int i=0; i<n; i++)
     {
      int shift=n-1-i;
      bars[i].time=(uint)Time[shift];
      bars[i].open=Open[shift];
      bars[i].low=Low[shift];
      bars[i].high=High[shift];
      bars[i].close=Close[shift];
      bars[i].volume=(double)Volume[shift];
     }
   return(n);
  }

//+------------------------------------------------------------------+
//| A pip is ten points on 3- and 5-digit quotes (mode 4), else one   |
//| point (mode 5).                                                   |
//+------------------------------------------------------------------+
int TorvikPipMode()
  {
   return((Digits==3 || Digits==5) ? 4 : 5);
  }
//+------------------------------------------------------------------+
